// SCMPX and wm8eutil: the command lines the program gives them and the file handling around
// them. The builders are pure so their exact text can be checked.
#pragma once
#include <QString>

class QWidget;

namespace kv {

// path with its last three characters (the extension) replaced by ext ("song.wav" -> "song.mp3").
QString WithLastThree(const QString& path, const QString& ext);

// SCMPX's bit-rate option (" -b3 " .. " -b11 ", empty for a rate it does not offer) followed by
// "-f " when fast is on.
QString ScmpxOptions(int bitrate, bool fast);
// scmpxPath -e<options>"<wave>" "<mp3>" (names quoted by kv::Quoted)
QString ScmpxCommandLine(const QString& scmpxPath, int bitrate, bool fast, const QString& waveFileName);

// The program part for wm8eutil: the bare name "wm8eutil" when it lies in the output folder
// (letter case ignored), otherwise the short form of its path.
QString Wm8eutilProgram(const QString& wm8eutilPath, const QString& wavePath);
// <program> -input tmp.wav -output tmp.wma -title "<title>"
QString Wm8eutilCommandLine(const QString& program, const QString& title);

// Runs SCMPX on G().WaveFileName and waits; deletes the WAVE when the program started, otherwise
// reports the failure and keeps it. Returns whether the program started.
bool RunScmpx(QWidget* owner);
// Runs wm8eutil on G().WaveFileName through tmp.wav/tmp.wma in the output folder and waits.
// On success the WMA replaces an older one and the WAVE is gone; on failure the WAVE is back
// under its name and the failure is reported. Returns whether the WMA was made.
bool RunWm8eutil(QWidget* owner);

}  // namespace kv
