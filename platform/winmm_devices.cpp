// MIDI output device list: device 0 is the built-in synthesizer, ALSA sequencer ports follow;
// the MIDI mapper (-1) routes to device 0.
#include <cstring>

#include "seq_alsa.h"
#include "winmm.h"

namespace {

constexpr char kMapperName[] = "MIDI マッパー";
constexpr char kSynthName[] = "Korvessa Synth (FluidSynth)";

void FillCaps(MIDIOUTCAPSA& caps, const std::string& name, WORD technology, WORD voices) {
  std::memset(&caps, 0, sizeof caps);
  caps.wMid = 0xFF;  // no registered manufacturer
  caps.wPid = technology;
  caps.vDriverVersion = 0x0100;
  std::strncpy(caps.szPname, name.c_str(), MAXPNAMELEN - 1);
  caps.wTechnology = technology;
  caps.wVoices = voices;
  caps.wNotes = voices;
  caps.wChannelMask = 0xFFFF;
  caps.dwSupport = 0;
}

}  // namespace

KV_API UINT WINAPI midiOutGetNumDevs(void) { return UINT(1 + kv::media::ListAlsaOutputPorts().size()); }

KV_API MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc) {
  if (!pmoc || cbmoc == 0) return MMSYSERR_INVALPARAM;
  MIDIOUTCAPSA caps;
  // The identifier arrives sign-extended from 16 or 32 bits: any all-ones value is the mapper.
  if (uDeviceID == UINT_PTR(-1) || uDeviceID == UINT_PTR(MIDI_MAPPER) || uDeviceID == 0xFFFF) {
    FillCaps(caps, kMapperName, MOD_SWSYNTH, 256);
    caps.wChannelMask = 0xFFFF;
  } else if (uDeviceID == 0) {
    FillCaps(caps, kSynthName, MOD_SWSYNTH, 256);
  } else {
    auto ports = kv::media::ListAlsaOutputPorts();
    if (uDeviceID > ports.size()) return MMSYSERR_BADDEVICEID;
    FillCaps(caps, ports[uDeviceID - 1].name, MOD_MIDIPORT, 0);
  }
  std::memcpy(pmoc, &caps, cbmoc < sizeof caps ? cbmoc : sizeof caps);
  return MMSYSERR_NOERROR;
}
