// Entry points of the fuzz targets. Each takes one input and returns 0; a defect shows up as a
// sanitizer report or an abort from a broken invariant. The same functions replay the saved
// crash inputs in tests/fuzz_regressions, so a fixed crash stays fixed in the normal build.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace kvfuzz {

int Smf(const uint8_t* data, size_t size);        // platform/smf_reader: ParseSmf
int MidiInfo(const uint8_t* data, size_t size);   // midi/MIDInfo: ParseMidiBytes, DecodeLegacyText
int Waveflt(const uint8_t* data, size_t size);    // waveflt.exe on a scratch input file
int Mp3Wave(const uint8_t* data, size_t size);    // mp3core WaveReader
int WmaWave(const uint8_t* data, size_t size);    // wmacore Encoder::Open (+ Run for short inputs)
int Sf2Keys(const uint8_t* data, size_t size);    // platform/exclusive_keys: a song's own SoundFont

// A private scratch folder for this process, created on first use and removed at exit.
const std::string& ScratchDir();
// Writes bytes to a file (replacing it); false when it cannot be written.
bool WriteBytes(const std::string& path, const uint8_t* data, size_t size);
// Aborts with a message: a broken invariant is a finding like a crash.
[[noreturn]] void Fail(const char* what);

}  // namespace kvfuzz
