// The media control command strings: parsing, replies, errors, devices, the system setup.
#include <cstring>
#include <memory>

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
      {"status Midi position", 0, "0"},
      {"status Midi ready", 0, "true"},
      {"open " + midi + " alias midi", MCIERR_DUPLICATE_ALIAS},
      {"status Midi colour", MCIERR_UNRECOGNIZED_KEYWORD},
      {"set Midi port 99", MCIERR_SEQ_PORT_NONEXISTENT},
      {"set Midi port x", MCIERR_BAD_INTEGER},
      {"record Midi", MCIERR_UNSUPPORTED_FUNCTION},
      {"close Midi"},
      {"status Midi mode", MCIERR_INVALID_DEVICE_NAME},
      {"frobnicate Midi", MCIERR_UNRECOGNIZED_COMMAND},
      {"close NotOpen", MCIERR_INVALID_DEVICE_NAME},
      {"open \"" + dir + "/missing.mid\" alias M", MCIERR_FILE_NOT_FOUND},
      {"open \"" + dir + "/unclosed.mid alias M", MCIERR_NO_CLOSING_QUOTE},
      {"", MCIERR_MISSING_COMMAND_STRING},
      {"   ", MCIERR_MISSING_COMMAND_STRING},
      {"open \"" + dir + "/song.xyz\" alias M", MCIERR_EXTENSION_NOT_FOUND},
      {"open \"" + CorpusFile("test-not-a-midi-file.mid") + "\" alias Bad", MCIERR_INVALID_FILE},
      {"status Bad mode", MCIERR_INVALID_DEVICE_NAME},
      // The length of an existing WAVE file, which is only read.
      {"open \"" + wave + "\" alias CheckMedia"},
      {"set CheckMedia time format milliseconds"},
      {"status CheckMedia length", 0, "1000"},
      {"close CheckMedia"},
  });
  EXPECT_EQ(readBytes(wave), waveBytes);
  char text[128];
  EXPECT_TRUE(mciGetErrorStringA(MCIERR_DUPLICATE_ALIAS, text, sizeof text));
  EXPECT_NE(std::string(text).find("alias"), std::string::npos) << text;
  EXPECT_FALSE(mciGetErrorStringA(999999, text, sizeof text));
  // A reply is cut to the caller's buffer.
  ExpectMci({{"open \"" + CorpusFile("test-all-gm-sounds.mid") + "\" alias Long"}});
  char full[64], small[4] = {'x', 'x', 'x', 'x'};
  ASSERT_EQ(mciSendStringA("status Long length", full, sizeof full, nullptr), 0u);
  ASSERT_GE(std::strlen(full), 6u);  // several minutes in milliseconds
  ASSERT_EQ(mciSendStringA("status Long length", small, sizeof small, nullptr), 0u);
  EXPECT_EQ(std::string(small), std::string(full, 3));
  EXPECT_EQ(mciSendStringA("status Long length", nullptr, 0, nullptr), 0u);
}

// While a recording runs, another device's failed open (the selection display measuring a file
// whose header is cut off) stays that device's own, until that alias is opened again.
TEST_F(MediaMciCommands, FailuresBelongToTheDeviceThatFailed) {
  const std::string wav = dir + "/kept.wav", cut = dir + "/cut header.mid";
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

// Media sessions keep their own devices and failures: the same alias names another device in
// each, and nothing one session does reaches another's (nor the default session's).
TEST_F(MediaMciCommands, SessionsKeepTheirOwnDevices) {
  using Session = std::unique_ptr<KvMediaSession, decltype(&kvMediaSessionClose)>;
  auto send = [](HKVMEDIA s, const std::string& cmd) {
    char buf[256] = {};
    const MCIERROR e = kvMediaSendString(s, cmd.c_str(), buf, 255);
    return e ? "error " + std::to_string(e) : std::string(buf);
  };
  struct Row {
    Session session;
    std::string song, length;
  } rows[] = {{Session(kvMediaSessionOpen(), kvMediaSessionClose), "test-c-major-scale.mid", "4000"},
              {Session(kvMediaSessionOpen(), kvMediaSessionClose), "test-2-tracks-type-1.mid", "4500"}};
  const std::string cut = dir + "/cut.mid";
  writeText(cut, std::string("MThd\0\0\0\x06\0", 9));
  for (Row& r : rows) {
    ASSERT_TRUE(r.session) << r.song;
    EXPECT_NE(send(r.session.get(), "open \"" + CorpusFile(r.song) + "\" alias Song"), "") << r.song;
  }
  send(rows[0].session.get(), "open \"" + cut + "\" alias CutSong");
  for (Row& r : rows) EXPECT_EQ(send(r.session.get(), "status song length"), r.length) << r.song;
  EXPECT_NE(std::string(kvMediaSessionDeviceError(rows[0].session.get(), "CutSong")).find(cut), std::string::npos);
  EXPECT_EQ(std::string(kvMediaSessionDeviceError(rows[1].session.get(), "CutSong")), "");
  EXPECT_EQ(Error("CutSong"), "");
  ExpectMci({{"status Song length", MCIERR_INVALID_DEVICE_NAME}});
  EXPECT_EQ(send(rows[0].session.get(), "close all"), "");
  EXPECT_EQ(send(rows[0].session.get(), "status Song length"), "error " + std::to_string(MCIERR_INVALID_DEVICE_NAME));
  EXPECT_EQ(send(rows[1].session.get(), "status Song length"), rows[1].length);
}

TEST_F(MediaMciCommands, DeviceListStartsWithTheSynth) {
  const UINT n = midiOutGetNumDevs();
  ASSERT_GE(n, 1u);
  MIDIOUTCAPSA caps, mapper;
  ASSERT_EQ(midiOutGetDevCapsA(MIDI_MAPPER, &mapper, sizeof mapper), MMSYSERR_NOERROR);
  EXPECT_GT(std::strlen(mapper.szPname), 0u);
  ASSERT_EQ(midiOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_NE(std::string(caps.szPname).find("Synth"), std::string::npos) << caps.szPname;
  EXPECT_EQ(caps.wTechnology, MOD_SWSYNTH);
  for (UINT i = 0; i < n; ++i) {
    ASSERT_EQ(midiOutGetDevCapsA(i, &caps, sizeof caps), MMSYSERR_NOERROR) << i;
    EXPECT_LE(std::strlen(caps.szPname), 31u) << i;
  }
  EXPECT_EQ(midiOutGetDevCapsA(n, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
}

TEST_F(MediaMciCommands, UnusableSoundFontOrCaptureSourceRefusesToRecordQuietly) {
  const std::string bad = dir + "/broken.sf2", wav = dir + "/nosf.wav";
  writeText(bad, "not a SoundFont");
  StderrCapture err(dir + "/stderr.txt");
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
  EXPECT_EQ(err.Restore(), 0u);
  // A SoundFont that does not exist falls back to the installed defaults, in this order.
  UseSystemSetup(dir, true, "/nonexistent/none.sf2");
  for (const char* name : {"default-GM.sf2", "FluidR3_GM.sf2", "TimGM6mb.sf2"}) {
    if (!fs::exists(std::string("/usr/share/sounds/sf2/") + name)) continue;
    EXPECT_EQ(kv::ResolveSoundFont(kv::LoadSystemSetup()), std::string("/usr/share/sounds/sf2/") + name);
    break;
  }
  UseSystemSetup(dir, true);
  const std::string msg = kv::MissingSoundFontMessage();
  for (const char* part : {"SoundFont not found (/usr/share/sounds/sf2/TimGM6mb.sf2)", "fluid-soundfont-gm", "sndvol32.exe /R"})
    EXPECT_NE(msg.find(part), std::string::npos) << part;
}

TEST_F(MediaMciCommands, SystemSetupIsSavedAndReadTolerantly) {
  kv::SystemSetup s;
  s.soundFont = "/some/where.sf2", s.source = "alsa:hw:1,0", s.fast = false, s.volume = 70;
  ASSERT_TRUE(kv::SaveSystemSetup(s));
  kv::SystemSetup r = kv::LoadSystemSetup();
  EXPECT_EQ(r.soundFont + " " + r.source + " " + std::to_string(r.fast) + " " + std::to_string(r.volume), "/some/where.sf2 alsa:hw:1,0 0 70");
  // A byte-order mark, CR LF, other letter case, blanks, an out-of-range volume, another section.
  writeText(dir + "/system.ini", "\xEF\xBB\xBF[setup]\r\n volume = 250 \r\nFAST=0\r\n[Other]\r\nFast=1\r\n");
  r = kv::LoadSystemSetup();
  EXPECT_EQ(r.source + " " + std::to_string(r.fast) + " " + std::to_string(r.volume), "synth 0 100");
}
