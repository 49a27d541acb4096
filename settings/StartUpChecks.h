// What start-up checks against the disk: stored program paths, folders and the installed encoders.
#pragma once
#include <QString>

#include "settings/Settings.h"

namespace kv {

// Finds the installed encoders and adjusts the choices: with no stored choice the first one
// available (SCMPX, GoGo, ACM; VBWAV2WMA, wm8eutil) becomes the default; a stored SCMPX or
// wm8eutil whose program is gone is reset. Fills EncoderAvailable, WmaAvailable, GogoVersion.
void DetectEncoders(Settings& s, const QString& appPath, const QString& systemDir, const QString& windowsDir);

// An output or MIDI folder whose own name is shorter than 4 characters, or that is gone, falls
// back to the program's folder.
void CheckFolders(Settings& s, const QString& appPath);

// A wave filter path that does not name an existing "waveflt.exe" is dropped.
void CheckWaveflt(Settings& s);

}  // namespace kv
