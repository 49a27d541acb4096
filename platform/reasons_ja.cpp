#include "reasons_ja.h"

#include <regex>
#include <vector>

namespace kv {
namespace {

struct Reason {
  const char* english;   // ECMAScript pattern
  const char* japanese;  // replacement; $1, $2 are the pattern's groups (paths, names)
};

// Every reason text the media and system layer sets, with the system error texts that can
// appear inside them. Rows run in order, so a sentence goes before the phrases within it.
const Reason kReasons[] = {
    {R"(File not found: )", "ファイルが見つかりません: "},
    {R"(Cannot read the file \((.*?)\): )", "ファイルを読み込めません ($1): "},
    {R"(Not a MIDI file \((.*?)\): )", "MIDI ファイルではありません ($1): "},
    {R"(no MIDI header \(MThd\))", "MIDI ヘッダー (MThd) がありません"},
    {R"(MIDI header cut off)", "MIDI ヘッダーが途中で切れています"},
    {R"(cannot open ([^()]+))", "$1 を開けません"},
    {R"(Not a WAVE file: )", "WAVE ファイルではありません: "},
    {R"(The recording device (.+?) cannot be opened\.)", "録音デバイス $1 を開けません。"},
    {R"(The recording device (.+?) does not record in this format\.)", "録音デバイス $1 はこの形式で録音できません。"},
    {R"(The recorder cannot record this WAVE format\.)", "この WAVE 形式では録音できません。"},
    {R"(The recording cannot be written \((.*?)\): )", "録音を書き込めません ($1): "},
    {R"(The recording could not be saved \((.*?)\): )", "録音を保存できませんでした ($1): "},
    {R"((.+?) carries a DLS bank, which FluidSynth cannot read; it plays with another SoundFont\.)",
     "$1 の DLS 音色バンクは FluidSynth では読めません。ほかの SoundFont で演奏します。"},
    {R"((.+?) is not a SoundFont; it is passed over\.)", "$1 は SoundFont ではないため、使いません。"},
    {R"(The file (.+?) is not a SoundFont\.)", "$1 は SoundFont ではありません。"},
    {R"(The SoundFont (.+?) cannot be loaded(:.*|\.))", "SoundFont $1 を読み込めません。"},
    {R"(FluidSynth could not be started\.)", "ソフトウェアシンセサイザー (FluidSynth) を起動できませんでした。"},
    {R"(The ALSA sequencer is not available\.)", "ALSA シーケンサーを使えません。"},
    {R"(The MIDI port (.+?) cannot be opened\.)", "MIDI ポート $1 を開けません。"},
    {R"(SoundFont not found \((.+?)\)\. Install the Debian package (\S+) \(or (\S+)\), or choose a SoundFont in (\S+ /R)\.)",
     "SoundFont が見つかりません ($1)。Debian パッケージ $2 (または $3) をインストールするか、$4 で SoundFont を選んでください。"},
    // System error texts (strerror) and exception texts.
    {R"(Permission denied)", "アクセスが拒否されました"},
    {R"(No such file or directory)", "ファイルがありません"},
    {R"(Is a directory)", "フォルダーです"},
    {R"(Input/output error)", "入出力エラー"},
    {R"(No space left on device)", "ディスクの空きがありません"},
    {R"(Too many open files)", "開いているファイルが多すぎます"},
    {R"(std::bad_alloc)", "メモリーが足りません"},
    {R"(unknown error)", "不明なエラー"},
};

}  // namespace

std::string JapaneseReasons(const std::string& text) {
  static const std::vector<std::pair<std::regex, std::string>> table = [] {
    std::vector<std::pair<std::regex, std::string>> t;
    for (const Reason& r : kReasons) t.emplace_back(std::regex(r.english), r.japanese);
    return t;
  }();
  std::string out = text;
  for (const auto& [pattern, japanese] : table) out = std::regex_replace(out, pattern, japanese);
  return out;
}

}  // namespace kv
