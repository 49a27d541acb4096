// Internal helpers shared by the media layer's files.
#pragma once
#include <string>

namespace kv::media {

// Says why the media command being carried out on this thread fails; the command's device
// (its alias) keeps the text, so one device's failure never shows as another's.
void ReportFailure(const std::string& text);
// The text reported on this thread since the last call, which forgets it.
std::string TakeFailure();
// ALSA and FluidSynth print nothing on stderr: their messages are captured instead.
void SilenceAlsa();
void SilenceFluid();
// Last error message FluidSynth reported (captured from its log).
std::string LastFluidMessage();

}  // namespace kv::media
