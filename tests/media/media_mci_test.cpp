// The media control command strings: parsing, replies, errors, the system setup.
#include "media_test_util.h"
#include "syssetup.h"

using namespace kvtest;

class MediaMciCommands : public MediaTest {
 protected:
  static std::string Error(const char* alias) { return kvMediaDeviceError(alias); }
};

TEST_F(MediaMciCommands, CommandsRepliesAndErrors) {
  const std::string folder = dir + "/曲 フォルダ with spaces", midi = "\"" + folder + "/ドレミ scale.mid\"";
  fs::create_directories(folder);
  fs::copy_file(CorpusFile("test-c-major-scale.mid"), folder + "/ドレミ scale.mid");
  const std::string wave = dir + "/one second.wav", waveBytes = waveHeader(22050, 16, 2, 22050 * 4, true) + std::string(22050 * 4, '\0');
  writeText(wave, waveBytes);
  ExpectMci({
      // Blanks, letter case and quoted non-ASCII names with spaces.
      {"open   " + midi + "    ALIAS  Midi  "},
      {"SET midi Time Format Milliseconds", 0, ""},
      {"status MIDI length", 0, "4000"},
      {"status Midi mode", 0, "stopped"},
      {"open " + midi + " alias midi", MCIERR_DUPLICATE_ALIAS},
      {"status Midi colour", MCIERR_UNRECOGNIZED_KEYWORD},
      {"set Midi port 99", MCIERR_SEQ_PORT_NONEXISTENT},
      {"record Midi", MCIERR_UNSUPPORTED_FUNCTION},
      {"close Midi"},
      {"status Midi mode", MCIERR_INVALID_DEVICE_NAME},
      {"frobnicate Midi", MCIERR_UNRECOGNIZED_COMMAND},
      {"close NotOpen", MCIERR_INVALID_DEVICE_NAME},
      {"open \"" + dir + "/missing.mid\" alias M", MCIERR_FILE_NOT_FOUND},
      {"open \"" + dir + "/unclosed.mid alias M", MCIERR_NO_CLOSING_QUOTE},
      {"", MCIERR_MISSING_COMMAND_STRING},
      {"open \"" + dir + "/song.xyz\" alias M", MCIERR_EXTENSION_NOT_FOUND},
      {"open \"" + CorpusFile("test-not-a-midi-file.mid") + "\" alias Bad", MCIERR_INVALID_FILE},
      // The length of an existing WAVE file, which is only read.
      {"open \"" + wave + "\" alias CheckMedia"},
      {"set CheckMedia time format milliseconds"},
      {"status CheckMedia length", 0, "1000"},
      {"close CheckMedia"},
  });
  EXPECT_EQ(readBytes(wave), waveBytes);
}

// While a recording runs, another device's failed open (the selection display measuring a file
// whose header is cut off) stays that device's own, until that alias is opened again.
TEST_F(MediaMciCommands, FailuresBelongToTheDeviceThatFailed) {
  const std::string wav = dir + "/kept.wav", cut = dir + "/cut header.mid";
  UseSystemSetup(dir, false);  // a take on the clock: it records the time it runs
  writeText(wav, TemplateBytes(120));
  writeText(cut, std::string("MThd\0\0\0\x06\0", 9));
  ExpectMci({{"open \"" + wav + "\" alias RecMedia"}, {"record RecMedia overwrite"}, {"open \"" + cut + "\" alias Midi", MCIERR_INVALID_FILE}});
  EXPECT_EQ(Error("RecMedia"), "");
  EXPECT_NE(Error("midi").find(cut), std::string::npos);
  SleepMs(100);
  ExpectMci({{"stop RecMedia"}, {"save RecMedia"}, {"close RecMedia"}});
  EXPECT_EQ(Error("RecMedia"), "");
  EXPECT_GT(fs::file_size(wav), 60u);
  EXPECT_NE(Error("Midi").find(cut), std::string::npos);
  ExpectMci({{"open \"" + CorpusFile("test-c-major-scale.mid") + "\" alias Midi"}, {"close Midi"}});
  EXPECT_EQ(Error("Midi"), "");
}

TEST_F(MediaMciCommands, UnusableSoundFontOrCaptureSourceRefusesToRecord) {
  const std::string bad = dir + "/broken.sf2", wav = dir + "/nosf.wav";
  writeText(bad, "not a SoundFont");
  for (auto [soundFont, source, named] : {std::tuple{bad, std::string("synth"), bad},
                                          {kSoundFont, "alsa:no-such-device", "no-such-device"}}) {
    UseSystemSetup(dir, true, soundFont, source);
    writeText(wav, TemplateBytes(124));
    ExpectMci({{"open \"" + wav + "\" alias RecMedia"},
               {"record RecMedia overwrite", MCIERR_WAVE_INPUTSUNSUITABLE},
               {"status RecMedia mode", 0, "stopped"}});
    EXPECT_NE(Error("RecMedia").find(named), std::string::npos) << named;
    Mci("close RecMedia");
    // The template stays untouched and no temporary file is left.
    EXPECT_EQ(fs::file_size(wav), 60u) << named;
    EXPECT_FALSE(fs::exists(wav + ".~rec")) << named;
  }
}

TEST_F(MediaMciCommands, SystemSetupIsReadTolerantly) {
  // A byte-order mark, CR LF, other letter case, blanks, an out-of-range volume, another section.
  writeText(dir + "/system.ini", "\xEF\xBB\xBF[setup]\r\n volume = 250 \r\nFAST=0\r\n[Other]\r\nFast=1\r\n");
  const kv::SystemSetup r = kv::LoadSystemSetup();
  EXPECT_EQ(r.source + " " + std::to_string(r.fast) + " " + std::to_string(r.volume), "synth 0 100");
  // The tail: "auto" or seconds up to 60; anything else reads as "auto". Written back as read.
  for (const auto& [text, seconds, written] : {std::tuple{" AUTO ", -1.0, "auto"}, {"0", 0.0, "0"}, {"60", 60.0, "60"},
                                               {"60.01", -1.0, "auto"}, {"-0.5", -1.0, "auto"}, {"1.5s", -1.0, "auto"},
                                               {"", -1.0, "auto"}}) {
    writeText(dir + "/system.ini", std::string("[Setup]\nTail=") + text + "\n");
    const kv::SystemSetup t = kv::LoadSystemSetup();
    EXPECT_EQ(t.tailSeconds, seconds) << text;
    EXPECT_EQ(kv::TailText(t.tailSeconds), written) << text;
  }
}
