// The media control command strings: parsing, replies, errors, the device list.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "media_test_util.h"
#include "syssetup.h"

using namespace kvtest;

class MediaMciCommands : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { tmp = new TempDir, dir = tmp->path(); }
  static void TearDownTestSuite() { delete tmp; }
  void SetUp() override { UseSystemSetup(dir, true); }
  void TearDown() override { mciSendStringA("close all", nullptr, 0, nullptr); }
  // Sends each command and checks its error code.
  static void Expect(std::initializer_list<std::pair<std::string, MCIERROR>> commands) {
    for (const auto& [cmd, expected] : commands) {
      MCIERROR e;
      Mci(cmd, &e);
      EXPECT_EQ(e, expected) << cmd;
    }
  }
  static inline TempDir* tmp;
  static inline std::string dir;
};

TEST_F(MediaMciCommands, QuotedPathsWithSpacesAndNonAsciiNames) {
  std::string folder = dir + "/曲 フォルダ with spaces", midi = folder + "/ドレミ scale.mid";
  fs::create_directories(folder);
  fs::copy_file(CorpusFile("test-c-major-scale.mid"), midi);
  MCIERROR e;
  EXPECT_NE(Mci("open   \"" + midi + "\"    ALIAS  Midi  ", &e), "");
  ASSERT_EQ(e, 0u);
  EXPECT_EQ(Mci("SET midi Time Format Milliseconds", &e), "");
  EXPECT_EQ(e, 0u);
  EXPECT_EQ(Mci("status MIDI length", &e), "4000");
  EXPECT_EQ(e, 0u);
  EXPECT_EQ(Mci("status Midi mode"), "stopped");
  EXPECT_EQ(Mci("status Midi position"), "0");
  EXPECT_EQ(Mci("status Midi ready"), "true");
  Expect({{"close Midi", 0}});
}

TEST_F(MediaMciCommands, ErrorsForBadCommandsAndAliases) {
  const std::string midi = "\"" + CorpusFile("test-c-major-scale.mid") + "\"";
  Expect({
      {"frobnicate Midi", MCIERR_UNRECOGNIZED_COMMAND},
      {"status NotOpen mode", MCIERR_INVALID_DEVICE_NAME},
      {"close NotOpen", MCIERR_INVALID_DEVICE_NAME},
      {"open \"" + dir + "/missing.mid\" alias M", MCIERR_FILE_NOT_FOUND},
      {"open \"" + dir + "/unclosed.mid alias M", MCIERR_NO_CLOSING_QUOTE},
      {"", MCIERR_MISSING_COMMAND_STRING},
      {"   ", MCIERR_MISSING_COMMAND_STRING},
      {"open \"" + dir + "/song.xyz\" alias M", MCIERR_EXTENSION_NOT_FOUND},
      {"open " + midi + " alias Dup", 0},
      {"open " + midi + " alias dup", MCIERR_DUPLICATE_ALIAS},
      {"status Dup colour", MCIERR_UNRECOGNIZED_KEYWORD},
      {"set Dup port 99", MCIERR_SEQ_PORT_NONEXISTENT},
      {"set Dup port x", MCIERR_BAD_INTEGER},
      {"record Dup", MCIERR_UNSUPPORTED_FUNCTION},
      {"close Dup", 0},
      {"status Dup mode", MCIERR_INVALID_DEVICE_NAME},
      // A file that is not MIDI data is not opened.
      {"open \"" + CorpusFile("test-not-a-midi-file.mid") + "\" alias Bad", MCIERR_INVALID_FILE},
      {"status Bad mode", MCIERR_INVALID_DEVICE_NAME},
  });
  char text[128];
  EXPECT_TRUE(mciGetErrorStringA(MCIERR_DUPLICATE_ALIAS, text, sizeof text));
  EXPECT_NE(std::string(text).find("alias"), std::string::npos);
  EXPECT_FALSE(mciGetErrorStringA(999999, text, sizeof text));
}

// While a recording runs, another device's failed open (the selection display measuring a file
// whose header is cut off) stays that device's own: the recorder reports nothing.
TEST_F(MediaMciCommands, FailuresBelongToTheDeviceThatFailed) {
  const std::string wav = dir + "/kept.wav", cut = dir + "/cut header.mid";
  writeText(wav, TemplateBytes(120));
  writeText(cut, std::string("MThd\0\0\0\x06\0", 9));
  Expect({{"open \"" + wav + "\" alias RecMedia", 0},
          {"record RecMedia overwrite", 0},
          {"open \"" + cut + "\" alias Midi", MCIERR_INVALID_FILE}});
  EXPECT_EQ(std::string(kvMediaDeviceError("RecMedia")), "");
  EXPECT_NE(std::string(kvMediaDeviceError("midi")).find(cut), std::string::npos);
  SleepMs(100);
  Expect({{"stop RecMedia", 0}, {"save RecMedia", 0}, {"close RecMedia", 0}});
  EXPECT_EQ(std::string(kvMediaDeviceError("RecMedia")), "");
  EXPECT_GT(fs::file_size(wav), 60u);
  // Midi keeps its failure past other devices' sessions, until it is opened again.
  EXPECT_NE(std::string(kvMediaDeviceError("Midi")).find(cut), std::string::npos);
  Expect({{"open \"" + CorpusFile("test-c-major-scale.mid") + "\" alias Midi", 0}, {"close Midi", 0}});
  EXPECT_EQ(std::string(kvMediaDeviceError("Midi")), "");
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
  EXPECT_EQ(std::string(kvMediaDeviceError("CutSong")), "");
  Expect({{"status Song length", MCIERR_INVALID_DEVICE_NAME}});
  EXPECT_EQ(send(rows[0].session.get(), "close all"), "");
  EXPECT_EQ(send(rows[0].session.get(), "status Song length"), "error " + std::to_string(MCIERR_INVALID_DEVICE_NAME));
  EXPECT_EQ(send(rows[1].session.get(), "status Song length"), rows[1].length);
}

TEST_F(MediaMciCommands, ReplyIsTruncatedToTheBuffer) {
  Expect({{"open \"" + CorpusFile("test-all-gm-sounds.mid") + "\" alias Long", 0}});
  char full[64], small[4] = {'x', 'x', 'x', 'x'};
  ASSERT_EQ(mciSendStringA("status Long length", full, sizeof full, nullptr), 0u);
  ASSERT_GE(std::strlen(full), 6u);  // several minutes in milliseconds
  ASSERT_EQ(mciSendStringA("status Long length", small, sizeof small, nullptr), 0u);
  EXPECT_EQ(std::string(small), std::string(full, 3));
  EXPECT_EQ(mciSendStringA("status Long length", nullptr, 0, nullptr), 0u);
}

TEST_F(MediaMciCommands, WaveLengthOfAnExistingFile) {
  const std::string path = dir + "/one second.wav", bytes = TemplateBytes(108, std::string(22050 * 4, '\0'));
  writeText(path, bytes);  // one second of 22050 Hz 16-bit stereo silence
  Expect({{"open \"" + path + "\" alias CheckMedia", 0}, {"set CheckMedia time format milliseconds", 0}});
  EXPECT_EQ(Mci("status CheckMedia length"), "1000");
  EXPECT_EQ(Mci("status CheckMedia samplespersec"), "22050");
  EXPECT_EQ(Mci("status CheckMedia mode"), "stopped");
  Mci("close CheckMedia");
  EXPECT_EQ(readBytes(path), bytes);  // the file is only read
}

TEST_F(MediaMciCommands, DeviceListStartsWithTheSynth) {
  UINT n = midiOutGetNumDevs();
  ASSERT_GE(n, 1u);
  MIDIOUTCAPSA caps;
  std::memset(&caps, 0x55, sizeof caps);
  ASSERT_EQ(midiOutGetDevCapsA(MIDI_MAPPER, &caps, sizeof caps), MMSYSERR_NOERROR);
  std::string mapper = caps.szPname;
  EXPECT_FALSE(mapper.empty());
  EXPECT_LE(mapper.size(), 31u);
  ASSERT_EQ(midiOutGetDevCapsA(UINT_PTR(intptr_t(-1)), &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_EQ(std::string(caps.szPname), mapper);
  ASSERT_EQ(midiOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_NE(std::string(caps.szPname).find("Synth"), std::string::npos);
  EXPECT_EQ(caps.wTechnology, MOD_SWSYNTH);
  for (UINT i = 1; i < n; ++i) {
    ASSERT_EQ(midiOutGetDevCapsA(i, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_LE(std::strlen(caps.szPname), 31u);
  }
  EXPECT_EQ(midiOutGetDevCapsA(n, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(midiOutGetDevCapsA(0, nullptr, sizeof caps), MMSYSERR_INVALPARAM);
}

TEST_F(MediaMciCommands, UnusableSoundFontOrCaptureSourceRefusesToRecordQuietly) {
  const std::string bad = dir + "/broken.sf2", wav = dir + "/nosf.wav";
  writeText(bad, "not a SoundFont");
  StderrCapture err(dir + "/stderr.txt");
  auto devices = kv::ListCaptureDevices();
  for (const auto& d : devices) EXPECT_FALSE(d.pcm.empty());
  // A broken SoundFont, and an ALSA capture source that cannot be opened.
  for (auto [soundFont, source, named] : {std::tuple{bad, std::string("synth"), bad},
                                          {kSoundFont, "alsa:no-such-device", "no-such-device"}}) {
    UseSystemSetup(dir, true, soundFont, source);
    EXPECT_EQ(kv::ResolveSoundFont(kv::LoadSystemSetup()), soundFont);
    writeText(wav, TemplateBytes(124));
    Expect({{"open \"" + wav + "\" alias RecMedia", 0}, {"record RecMedia overwrite", MCIERR_WAVE_INPUTSUNSUITABLE}});
    EXPECT_NE(std::string(kvMediaDeviceError("RecMedia")).find(named), std::string::npos);
    EXPECT_EQ(Mci("status RecMedia mode"), "stopped");
    Mci("close RecMedia");
    // The unsaved recording left the 60-byte template untouched and no temporary file behind.
    EXPECT_EQ(fs::file_size(wav), 60u);
    EXPECT_FALSE(fs::exists(wav + ".~rec"));
  }
  EXPECT_EQ(err.Restore(), 0u);

  // A SoundFont that does not exist falls back to the installed defaults, in this order.
  UseSystemSetup(dir, true, "/nonexistent/none.sf2");
  std::string fallback = kv::ResolveSoundFont(kv::LoadSystemSetup());
  for (const char* name : {"default-GM.sf2", "FluidR3_GM.sf2", "TimGM6mb.sf2"}) {
    if (!fs::exists(std::string("/usr/share/sounds/sf2/") + name)) continue;
    EXPECT_EQ(fallback, std::string("/usr/share/sounds/sf2/") + name);
    break;
  }
  UseSystemSetup(dir, true);
  std::string msg = kv::MissingSoundFontMessage();
  for (const char* part : {"SoundFont not found (/usr/share/sounds/sf2/TimGM6mb.sf2)", "fluid-soundfont-gm",
                           "sndvol32.exe /R"})
    EXPECT_NE(msg.find(part), std::string::npos) << part;
}

TEST_F(MediaMciCommands, SystemSetupRoundTrip) {
  kv::SystemSetup s;
  s.soundFont = "/some/where.sf2";
  s.source = "alsa:hw:1,0";
  s.fast = false;
  s.volume = 70;
  ASSERT_TRUE(kv::SaveSystemSetup(s));
  kv::SystemSetup r = kv::LoadSystemSetup();
  EXPECT_EQ(r.soundFont, s.soundFont);
  EXPECT_EQ(r.source, s.source);
  EXPECT_FALSE(r.fast);
  EXPECT_EQ(r.volume, 70);
  EXPECT_EQ(kv::SystemSetupPath(), dir + "/system.ini");
  writeText(dir + "/system.ini", "\xEF\xBB\xBF[setup]\r\n volume = 250 \r\nFAST=0\r\n[Other]\r\nFast=1\r\n");
  r = kv::LoadSystemSetup();
  EXPECT_EQ(r.volume, 100);
  EXPECT_FALSE(r.fast);
  EXPECT_EQ(r.source, "synth");
  UseSystemSetup(dir, true);
  EXPECT_TRUE(kv::LoadSystemSetup().fast);
  EXPECT_EQ(kv::ResolveSoundFont(kv::LoadSystemSetup()), kSoundFont);
}

// A recording without a file, saved under a name of its own; "record" without overwrite
// continues it, "seek to start" then "record" starts over.
TEST_F(MediaMciCommands, RecordingWithoutAFile) {
  Expect({{"open new type waveaudio alias Take", 0},
          {"set Take samplespersec 22050 bitspersample 16 channels 1", 0},
          {"record Take", 0}});
  EXPECT_EQ(Mci("status Take mode"), "recording");
  SleepMs(200);
  Mci("stop Take");
  int64_t first = std::atoll(Mci("status Take length").c_str());
  EXPECT_GE(first, 150);
  Mci("record Take");
  SleepMs(200);
  Mci("stop Take");
  EXPECT_GE(std::atoll(Mci("status Take length").c_str()), first + 150);
  Mci("set Take time format samples");
  int64_t frames = std::atoll(Mci("status Take length").c_str());
  std::string out = dir + "/take.wav";
  Expect({{"save Take \"" + out + "\"", 0}, {"close Take", 0}});
  Audio a;
  ASSERT_TRUE(ReadAudio(out, a));
  EXPECT_EQ(a.rate, 22050);
  EXPECT_EQ(a.channels, 1);
  EXPECT_EQ(a.frames, frames);
  Expect({{"open new type waveaudio", MCIERR_NEW_REQUIRES_ALIAS}, {"play Take", MCIERR_INVALID_DEVICE_NAME}});
}
