// Internal helpers shared by the media layer's files.
#pragma once
#include <string>

namespace kv::media {

// The text kvMediaLastError() returns; empty clears it.
void SetLastMediaError(const std::string& text);
std::string LastMediaError();
// ALSA and FluidSynth print nothing on stderr: their messages are captured instead.
void SilenceAlsa();
void SilenceFluid();
// Last error message FluidSynth reported (captured from its log).
std::string LastFluidMessage();

}  // namespace kv::media
