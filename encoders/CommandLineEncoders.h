// SCMPX and wm8eutil: the command lines the program gives them and the file handling around
// them. The builders are pure so their exact text can be checked.
#pragma once
#include <QString>

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

}  // namespace kv
