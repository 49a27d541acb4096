// The media control command strings: parsing, replies, errors, the device list.
#include <gtest/gtest.h>

#include <cstring>

#include "media_test_util.h"
#include "syssetup.h"

using kvtest::Mci;

class MediaMciCommands : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = kvtest::MakeTempDir("mci");
    kvtest::UseSystemSetup(dir, true);
  }
  static void TearDownTestSuite() { kvtest::fs::remove_all(dir); }
  void TearDown() override { mciSendStringA("close all", nullptr, 0, nullptr); }
  static std::string dir;
};
std::string MediaMciCommands::dir;

TEST_F(MediaMciCommands, QuotedPathsWithSpacesAndNonAsciiNames) {
  std::string folder = dir + "/曲 フォルダ with spaces";
  kvtest::fs::create_directories(folder);
  std::string midi = folder + "/ドレミ scale.mid";
  kvtest::fs::copy_file(kvtest::CorpusFile("test-c-major-scale.mid"), midi);
  MCIERROR e;
  EXPECT_NE(Mci("open   \"" + midi + "\"    ALIAS  Midi  ", &e), "");
  ASSERT_EQ(e, 0u);
  EXPECT_EQ(Mci("SET midi Time Format Milliseconds", &e), "");
  EXPECT_EQ(e, 0u);
  int64_t len = std::atoll(Mci("status MIDI length", &e).c_str());
  EXPECT_EQ(e, 0u);
  EXPECT_EQ(len, 4000);
  EXPECT_EQ(Mci("status Midi mode"), "stopped");
  EXPECT_EQ(Mci("status Midi position"), "0");
  EXPECT_EQ(Mci("status Midi ready"), "true");
  Mci("close Midi", &e);
  EXPECT_EQ(e, 0u);
}

TEST_F(MediaMciCommands, ErrorsForBadCommandsAndAliases) {
  MCIERROR e;
  Mci("frobnicate Midi", &e);
  EXPECT_EQ(e, MCIERR_UNRECOGNIZED_COMMAND);
  Mci("status NotOpen mode", &e);
  EXPECT_EQ(e, MCIERR_INVALID_DEVICE_NAME);
  Mci("close NotOpen", &e);
  EXPECT_EQ(e, MCIERR_INVALID_DEVICE_NAME);
  Mci("open \"" + dir + "/missing.mid\" alias M", &e);
  EXPECT_EQ(e, MCIERR_FILE_NOT_FOUND);
  Mci("open \"" + dir + "/unclosed.mid alias M", &e);
  EXPECT_EQ(e, MCIERR_NO_CLOSING_QUOTE);
  Mci("", &e);
  EXPECT_EQ(e, MCIERR_MISSING_COMMAND_STRING);
  Mci("   ", &e);
  EXPECT_EQ(e, MCIERR_MISSING_COMMAND_STRING);
  Mci("open \"" + dir + "/song.xyz\" alias M", &e);
  EXPECT_EQ(e, MCIERR_EXTENSION_NOT_FOUND);

  std::string midi = kvtest::CorpusFile("test-c-major-scale.mid");
  Mci("open \"" + midi + "\" alias Dup", &e);
  ASSERT_EQ(e, 0u);
  Mci("open \"" + midi + "\" alias dup", &e);
  EXPECT_EQ(e, MCIERR_DUPLICATE_ALIAS);
  Mci("status Dup colour", &e);
  EXPECT_EQ(e, MCIERR_UNRECOGNIZED_KEYWORD);
  Mci("set Dup port 99", &e);
  EXPECT_EQ(e, MCIERR_SEQ_PORT_NONEXISTENT);
  Mci("set Dup port x", &e);
  EXPECT_EQ(e, MCIERR_BAD_INTEGER);
  Mci("record Dup", &e);
  EXPECT_EQ(e, MCIERR_UNSUPPORTED_FUNCTION);
  Mci("close Dup", &e);
  EXPECT_EQ(e, 0u);
  Mci("status Dup mode", &e);
  EXPECT_EQ(e, MCIERR_INVALID_DEVICE_NAME);

  // A file that is not MIDI data.
  Mci("open \"" + kvtest::CorpusFile("test-not-a-midi-file.mid") + "\" alias Bad", &e);
  EXPECT_EQ(e, MCIERR_INVALID_FILE);
  Mci("status Bad mode", &e);
  EXPECT_EQ(e, MCIERR_INVALID_DEVICE_NAME);

  char text[128];
  EXPECT_TRUE(mciGetErrorStringA(MCIERR_DUPLICATE_ALIAS, text, sizeof text));
  EXPECT_NE(std::string(text).find("alias"), std::string::npos);
  EXPECT_FALSE(mciGetErrorStringA(999999, text, sizeof text));
}

TEST_F(MediaMciCommands, ReplyIsTruncatedToTheBuffer) {
  std::string midi = kvtest::CorpusFile("test-all-gm-sounds.mid");
  ASSERT_EQ(mciSendStringA(("open \"" + midi + "\" alias Long").c_str(), nullptr, 0, nullptr), 0u);
  char full[64];
  ASSERT_EQ(mciSendStringA("status Long length", full, sizeof full, nullptr), 0u);
  ASSERT_GE(std::strlen(full), 6u);  // several minutes in milliseconds
  char small[4];
  std::memset(small, 'x', sizeof small);
  ASSERT_EQ(mciSendStringA("status Long length", small, sizeof small, nullptr), 0u);
  EXPECT_EQ(std::string(small), std::string(full, 3));
  EXPECT_EQ(mciSendStringA("status Long length", nullptr, 0, nullptr), 0u);
}

TEST_F(MediaMciCommands, WaveLengthOfAnExistingFile) {
  // One second of 22050 Hz 16-bit stereo silence.
  std::string header = kvtest::TemplateBytes(108).substr(0, 58);
  std::string data(22050 * 4, '\0');
  header.replace(54, 4, std::string{char(data.size() & 0xFF), char((data.size() >> 8) & 0xFF),
                                    char((data.size() >> 16) & 0xFF), 0});
  header.replace(4, 4, std::string{char((50 + data.size()) & 0xFF), char(((50 + data.size()) >> 8) & 0xFF),
                                   char(((50 + data.size()) >> 16) & 0xFF), 0});
  std::string path = dir + "/one second.wav";
  kvtest::WriteFile(path, header + data);
  MCIERROR e;
  Mci("open \"" + path + "\" alias CheckMedia", &e);
  ASSERT_EQ(e, 0u);
  mciSendStringA("set CheckMedia time format milliseconds", nullptr, 0, nullptr);
  EXPECT_EQ(Mci("status CheckMedia length"), "1000");
  EXPECT_EQ(Mci("status CheckMedia samplespersec"), "22050");
  EXPECT_EQ(Mci("status CheckMedia mode"), "stopped");
  Mci("close CheckMedia");
  // The file is only read: it is unchanged afterwards.
  EXPECT_EQ(kvtest::fs::file_size(path), header.size() + data.size());
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

TEST_F(MediaMciCommands, UnusableSoundFontIsExplained) {
  std::string bad = dir + "/broken.sf2";
  kvtest::WriteFile(bad, "not a SoundFont");
  kvtest::UseSystemSetup(dir, true, bad);
  EXPECT_EQ(kv::ResolveSoundFont(kv::LoadSystemSetup()), bad);
  std::string wav = dir + "/nosf.wav";
  kvtest::WriteFile(wav, kvtest::TemplateBytes(124));
  MCIERROR e;
  Mci("open \"" + wav + "\" alias RecMedia", &e);
  ASSERT_EQ(e, 0u);
  Mci("record RecMedia overwrite", &e);
  EXPECT_EQ(e, MCIERR_WAVE_INPUTSUNSUITABLE);
  EXPECT_NE(std::string(kvMediaLastError()).find(bad), std::string::npos);
  EXPECT_EQ(Mci("status RecMedia mode"), "stopped");
  Mci("close RecMedia");
  // The unsaved recording left the 60-byte template untouched and no temporary file behind.
  EXPECT_EQ(kvtest::fs::file_size(wav), 60u);
  EXPECT_FALSE(kvtest::fs::exists(wav + ".~rec"));

  // A SoundFont that does not exist falls back to the installed defaults, in this order.
  kvtest::UseSystemSetup(dir, true, "/nonexistent/none.sf2");
  std::string fallback = kv::ResolveSoundFont(kv::LoadSystemSetup());
  for (const char* name : {"default-GM.sf2", "FluidR3_GM.sf2", "TimGM6mb.sf2"}) {
    std::string p = std::string("/usr/share/sounds/sf2/") + name;
    if (kvtest::fs::exists(p)) {
      EXPECT_EQ(fallback, p);
      break;
    }
  }
  kvtest::UseSystemSetup(dir, true);
  std::string msg = kv::MissingSoundFontMessage();
  EXPECT_NE(msg.find("SoundFont not found (/usr/share/sounds/sf2/TimGM6mb.sf2)"), std::string::npos);
  EXPECT_NE(msg.find("fluid-soundfont-gm"), std::string::npos);
  EXPECT_NE(msg.find("sndvol32.exe /R"), std::string::npos);
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
  kvtest::WriteFile(dir + "/system.ini", "\xEF\xBB\xBF[setup]\r\n volume = 250 \r\nFAST=0\r\n[Other]\r\nFast=1\r\n");
  r = kv::LoadSystemSetup();
  EXPECT_EQ(r.volume, 100);
  EXPECT_FALSE(r.fast);
  EXPECT_EQ(r.source, "synth");
  kvtest::UseSystemSetup(dir, true);
  EXPECT_TRUE(kv::LoadSystemSetup().fast);
  EXPECT_EQ(kv::ResolveSoundFont(kv::LoadSystemSetup()), kvtest::kSoundFont);
}

TEST_F(MediaMciCommands, CaptureSourceAndRecorderCommands) {
  // An ALSA capture source that cannot be opened refuses to record, quietly.
  fflush(stderr);
  std::string errPath = dir + "/stderr.txt";
  int saved = dup(2);
  FILE* errFile = std::fopen(errPath.c_str(), "w");
  dup2(fileno(errFile), 2);
  auto devices = kv::ListCaptureDevices();
  for (const auto& d : devices) EXPECT_FALSE(d.pcm.empty());
  kvtest::UseSystemSetup(dir, true, kvtest::kSoundFont, "alsa:no-such-device");
  std::string wav = dir + "/line in.wav";
  kvtest::WriteFile(wav, kvtest::TemplateBytes(120));
  MCIERROR e;
  Mci("open \"" + wav + "\" alias RecMedia", &e);
  ASSERT_EQ(e, 0u);
  Mci("record RecMedia overwrite", &e);
  EXPECT_EQ(e, MCIERR_WAVE_INPUTSUNSUITABLE);
  EXPECT_NE(std::string(kvMediaLastError()).find("no-such-device"), std::string::npos);
  Mci("close RecMedia");
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::fclose(errFile);
  EXPECT_EQ(kvtest::fs::file_size(errPath), 0u);

  // A recording without a file, saved under a name of its own; "record" without overwrite
  // continues it, "seek to start" then "record" starts over.
  kvtest::UseSystemSetup(dir, true);
  Mci("open new type waveaudio alias Take", &e);
  ASSERT_EQ(e, 0u);
  Mci("set Take samplespersec 22050 bitspersample 16 channels 1", &e);
  EXPECT_EQ(e, 0u);
  Mci("record Take", &e);
  ASSERT_EQ(e, 0u);
  EXPECT_EQ(Mci("status Take mode"), "recording");
  kvtest::SleepMs(200);
  Mci("stop Take");
  int64_t first = std::atoll(Mci("status Take length").c_str());
  EXPECT_GE(first, 150);
  Mci("record Take");
  kvtest::SleepMs(200);
  Mci("stop Take");
  EXPECT_GE(std::atoll(Mci("status Take length").c_str()), first + 150);
  Mci("set Take time format samples");
  int64_t frames = std::atoll(Mci("status Take length").c_str());
  std::string out = dir + "/take.wav";
  Mci("save Take \"" + out + "\"", &e);
  EXPECT_EQ(e, 0u);
  Mci("close Take");
  kvtest::Audio a;
  ASSERT_TRUE(kvtest::ReadAudio(out, a));
  EXPECT_EQ(a.rate, 22050);
  EXPECT_EQ(a.channels, 1);
  EXPECT_EQ(a.frames, frames);
  Mci("open new type waveaudio", &e);
  EXPECT_EQ(e, MCIERR_NEW_REQUIRES_ALIAS);
  Mci("play " + std::string("Take"), &e);
  EXPECT_EQ(e, MCIERR_INVALID_DEVICE_NAME);
}
