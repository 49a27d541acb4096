// The encoders at work: command lines, the three progress windows and the encoding step of a
// conversion, each turning a real WAVE into a file ffprobe accepts.
#include <QAction>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QtTest>

#include "EncoderFixture.h"
#include "encoders/CommandLineEncoders.h"
#include "encoders/ProgressWindow.h"
#include "encoders/VBWAV2WMA.h"
#include "encoders/frmACM.h"
#include "encoders/frmGoGo.h"
#include "encoders/frmVBWMA.h"

using kv::G;

namespace {
// An MP3's duration exceeds its WAVE's by LAME's delay and padding only.
void CheckMp3(const QString& mp3, const QString& wave, int kbps) {
  auto p = Probe(mp3);
  QCOMPARE(QString::fromStdString(p["codec_name"]), QString("mp3"));
  if (kbps) QCOMPARE(QString::fromStdString(p["bit_rate"]), QString::number(kbps * 1000));
  const double wav = Seconds(wave);
  QVERIFY2(wav > 0, qPrintable(wave));
  QVERIFY2(std::abs(std::atof(p["duration"].c_str()) - wav) <= 0.060, p["duration"].c_str());
}

void CheckWma(const QString& wma, const QString& title, double seconds) {
  auto p = Probe(wma);
  QCOMPARE(QString::fromStdString(p["codec_name"] + " " + p["bit_rate"] + " " + p["sample_rate"] + " " + p["channels"] + " " + p["title"]),
           "wmav2 64000 44100 2 " + title);
  QVERIFY2(std::abs(std::atof(p["duration"].c_str()) - seconds) <= 0.15, p["duration"].c_str());
}
}  // namespace

class EncoderRunTest : public QObject {
  Q_OBJECT
 private slots:
  void scmpxCommandLines() {
    QCOMPARE(kv::ScmpxCommandLine("/opt/sc mpx/scmpx.exe", 128, true, "/o d/song.wav"),
             QString("/opt/sc mpx/scmpx.exe -e -b9 -f \"/o d/song.wav\" \"/o d/song.mp3\""));
    const int rates[] = {48, 56, 64, 80, 96, 112, 128, 160, 192};
    for (int i = 0; i < 9; ++i) QCOMPARE(kv::ScmpxOptions(rates[i], false), QString(" -b%1 ").arg(i + 3));
    QCOMPARE(kv::ScmpxOptions(100, false), QString());
    QCOMPARE(kv::ScmpxOptions(100, true), QString("-f "));
    QCOMPARE(kv::ScmpxCommandLine("scmpx.exe", 320, false, "/a.WAV"), QString("scmpx.exe -e\"/a.WAV\" \"/a.mp3\""));
  }

  void wm8eutilCommandLines() {
    QTemporaryDir dir;
    const QString tool = dir.path() + "/Tools/wm8eutil.exe";
    QDir().mkpath(dir.path() + "/Tools");
    WriteFile(tool, "");
    // In the output folder (letter case ignored): the bare name. Elsewhere: the short form of
    // the path (here the path itself), empty when it is missing.
    QCOMPARE(kv::Wm8eutilProgram(tool, dir.path() + "/tools"), QString("wm8eutil"));
    QCOMPARE(kv::Wm8eutilProgram(tool, dir.path()), tool);
    QCOMPARE(kv::Wm8eutilProgram(dir.path() + "/gone/wm8eutil.exe", dir.path()), QString());
    QCOMPARE(kv::Wm8eutilCommandLine("wm8eutil", "曲 1"), QString("wm8eutil -input tmp.wav -output tmp.wma -title \"曲 1\""));
  }

  void percentTexts() {
    for (auto [v, text, bare] : {std::tuple{0.35f, "0.35 %", ".35 %"}, {0.45f, "0.45 %", ".45 %"}, {12.5f, "12.50 %", "12.50 %"},
                                 {100.f, "100.00 %", "100.00 %"}, {104.25f, "104.25 %", "104.25 %"}}) {
      QCOMPARE(kv::PercentText(v), QString(text));
      QCOMPARE(kv::PercentTextNoLeadingZero(v), QString(bare));
    }
    QCOMPARE(kv::BarValue(42.7f), 42);
    QCOMPARE(kv::BarValue(250.f), 100);  // more frames than announced: the bar stays full
  }

  void wmaSettingsRecord() {
    QCOMPARE(kv::WmaTitleFor("/x/song.wav"), QString("song"));
    kv::WmaEncodeSettings s = kv::DefaultWmaSettings("  曲 song  ");
    s.Description = QString(300, 'd');
    const QByteArray rec = kv::WmaSettingsToAnsi(s), title = QString("曲 song").toUtf8();
    QCOMPARE(rec.size(), 788);
    QCOMPARE(rec.left(20), QByteArray::fromHex("40000000" "44ac0000" "02000000" "01000000" "00000000"));
    QCOMPARE(rec.mid(20, 128), title + '\0' + QByteArray(128 - title.size() - 1, ' '));
    QCOMPARE(rec.mid(148, 128), QByteArray(1, '\0') + QByteArray(127, ' '));
    QCOMPARE(rec.mid(404, 256), QByteArray(256, 'd'));  // cut at the field's size, no NUL
    QCOMPARE(rec.mid(660, 128), QByteArray(1, '\0') + QByteArray(127, ' '));
    const kv::WmaEncodeSettings back = kv::WmaSettingsFromAnsi(rec);
    QCOMPARE(back.Title, QString("曲 song"));
    QCOMPARE(back.Description, QString(256, 'd'));
    QCOMPARE(back.BitRate, 64);
    QCOMPARE(back.SampleRate, 44100);
  }

  void gogoWindowEncodesAndStops() {
    EncoderFixture f;
    QVERIFY(f.Install("gogo.dll", "app/gogo.dll"));
    f.Start();
    const QString wave = f.Wave("song.wav", 3.0);
    G().Bitrate = 160;
    G().StereoMode = "Joint Stereo";
    frmGoGo w;
    w.Form_Load();
    QVERIFY(!w.isVisible());
    QCOMPARE(w.windowTitle(), QString("GOGO[song.wav]"));
    QCOMPARE(w.lblPer->text() + " " + QString::number(w.pbr1->value()), QString("100.00 % 100"));
    QVERIFY(f.messages.empty());
    CheckMp3(f.out + "/song.mp3", wave, 160);
    QVERIFY(QFile::exists(wave));  // the caller decides about the WAVE
    // A close request arriving while the first frame's events are dispatched stops the encode.
    f.Wave("long.wav", 4.0);
    frmGoGo w2;
    QTimer::singleShot(0, &w2, [&w2] { w2.close(); });
    w2.Form_Load();
    QVERIFY(w2.StopRequested());
    QVERIFY(!w2.isVisible());
    QCOMPARE(f.Shown(), QStringList("エラーが発生しました errcode = 0|48"));
    QVERIFY(w2.pbr1->value() < 100);
    QVERIFY(!QFile::exists(f.out + "/long.mp3"));
  }

  void gogoWindowFailures() {
    EncoderFixture f;
    f.Start();
    f.Wave("a.wav", 0.2);
    WriteFile(f.out + "/text.wav", "this is not a wave file, only some words");
    // No library: the window hides without a word. Then a missing and an unreadable WAVE.
    for (QString wave : {"a.wav", "missing.wav", "text.wav"}) {
      if (wave == "missing.wav") QVERIFY(f.Install("gogo.dll", "app/gogo.dll"));
      G().WaveFileName = f.out + "/" + wave;
      frmGoGo w;
      w.Form_Load();
      QVERIFY(!w.isVisible());
    }
    QCOMPARE(f.Shown(), QStringList({"入力ファイルを開けませんでした|48", "解析エラーが発生しました|48"}));
    QCOMPARE(f.OutputFiles(), QStringList({"a.wav", "text.wav"}));
  }

  void gogoCallsAndProgress() {
    EncoderFixture f;
    QVERIFY(QFile::copy(KV_FAKE_GOGO, f.app + "/gogo.dll"));
    const QString log = f.root->path() + "/calls.log";
    qputenv("KV_FAKE_GOGO_LOG", log.toUtf8());
    f.Start();
    auto run = [&](int total, int frames, const QString& stereo) {
      QFile::remove(log);
      qputenv("KV_FAKE_GOGO_TOTAL", QByteArray::number(total));
      qputenv("KV_FAKE_GOGO_FRAMES", QByteArray::number(frames));
      G().WaveFileName = f.out + "/song.wav";
      G().SampleRate = 22050;
      G().Bitrate = 112;
      G().StereoMode = stereo;
      auto w = std::make_unique<frmGoGo>();
      w->Form_Load();
      return std::make_pair(std::move(w), QString::fromStdString(kvtest::readBytes(log.toStdString())).split('\n', Qt::SkipEmptyParts));
    };
    const QString before = QDir::currentPath();
    // More frames than announced: the label goes past 100, the bar stays full.
    auto [w, calls] = run(4, 6, "foo");
    QCOMPARE(calls, QStringList({"init " + f.app, "units", "set 1 " + f.out + "/song.wav", "set 2 " + f.out + "/song.mp3",
                                 "set 6 22050", "set 3 1", "set 4 112", "detect", "get 15", "close 6", "end"}));
    QCOMPARE(w->lblPer->text() + " " + QString::number(w->pbr1->value()), QString("150.00 % 100"));
    QCOMPARE(QDir::currentPath(), before);
    // No total: label and bar keep their first values; joint stereo is mode 2.
    auto [w0, calls0] = run(0, 3, "Joint Stereo");
    QCOMPARE(calls0.at(5), QString("set 3 2"));
    QCOMPARE(calls0.last(2), QStringList({"close 3", "end"}));
    QCOMPARE(w0->lblPer->text() + " " + QString::number(w0->pbr1->value()), QString("0 % 0"));
    QVERIFY(!w0->isVisible());
    QVERIFY(f.messages.empty());
    qunsetenv("KV_FAKE_GOGO_LOG");
  }

  void acmWindowEncodesAndStops() {
    EncoderFixture f;
    QVERIFY(f.Install("VBMP3.dll", "app/VBMP3.dll"));
    QVERIFY(f.Install("system/L3CODECP.ACM", "system/L3CODECP.ACM"));
    f.Start();
    const QString wave = f.Wave("acm.wav", 2.0, 48000);
    {
      frmACM w;
      w.Form_Load();
      QVERIFY(!w.isVisible());
      QVERIFY(!w.tmr1->isActive());
      QCOMPARE(w.windowTitle(), QString("ACM[acm.wav]"));
      // The last value shown may be below 100: the encode can end between two polls.
      QVERIFY2(QRegularExpression("^(0|\\d{0,3}\\.\\d\\d) %$").match(w.lblPer->text()).hasMatch(), qPrintable(w.lblPer->text()));
    }
    CheckMp3(f.out + "/acm.mp3", wave, 0);
    QVERIFY(QFile::exists(wave));
    // A close request ends the wait at once; the unfinished MP3 goes with the library's release.
    f.Wave("stop.wav", 20.0);
    frmACM w;
    QTimer::singleShot(0, &w, [&w] { w.close(); });
    w.Form_Load();
    QVERIFY(!w.isVisible());
    QCOMPARE(w.lblPer->text(), QString("0 %"));
    QVERIFY(!QFile::exists(f.out + "/stop.mp3"));
    QVERIFY(f.messages.empty());
  }

  void vbwmaWindowEncodes() {
    EncoderFixture f;
    QVERIFY(f.Install("vbwav2wma.dll", "app/vbwav2wma.dll"));
    f.Start();
    // The title is the file's name without its extension, trimmed.
    const QString wave = f.Wave("  spaced 曲  .wav", 1.5, 48000);
    {
      frmVBWMA w;
      w.Form_Load();
      QVERIFY(!w.isVisible());
      QVERIFY(!w.Timer1->isActive());
      QCOMPARE(w.windowTitle(), QString("VBWAV2WMA[  spaced 曲  .wav]"));
    }
    QVERIFY(f.messages.empty());
    QVERIFY(!QFile::exists(wave));
    CheckWma(f.out + "/  spaced 曲  .wma", "spaced 曲", 1.5);
    // A failed open: the message without an icon, the WAVE stays.
    G().WaveFileName = f.out + "/missing.wav";
    frmVBWMA w;
    w.Form_Load();
    QVERIFY(!w.isVisible());
    QCOMPARE(f.Shown(), QStringList("エンコード失敗|0"));
    QCOMPARE(f.OutputFiles(), QStringList({"  spaced 曲  .wma"}));
  }

  void encodeStepMp3AndWma() {
    EncoderFixture f;
    f.InstallAll();
    f.writeIni(("[Folder]\nScmpx=" + f.app + "/tools/scmpx.exe\nWm8eutil=" + f.app + "/tools/wm8eutil.exe\n").toUtf8());
    frmMain* m = f.Start();
    m->mnuSetType_Click(1);
    G().Bitrate = 96;
    G().FastEncode = true;
    QVERIFY(G().EncoderAvailable[0] && G().EncoderAvailable[1] && G().EncoderAvailable[2]);
    // Each encoder leaves only its MP3.
    for (int encoder : {0, 1, 2}) {
      G().EncoderDefault = short(encoder);
      const QString name = QString("e%1").arg(encoder), wave = f.Wave(name + ".wav", 1.0), reference = f.root->path() + "/" + name + ".wav";
      QVERIFY(QFile::copy(wave, reference));
      m->Panel("status")->clear();
      m->RunEncoder();
      QCOMPARE(m->Panel("status")->text(), QString("Encoding..."));
      QCOMPARE(f.OutputFiles(), QStringList({name + ".mp3"}));
      CheckMp3(f.out + "/" + name + ".mp3", reference, encoder == 2 ? 0 : 96);
      QFile::remove(f.out + "/" + name + ".mp3");
    }
    // A chosen encoder that is not available runs nothing; nor does WAVE output.
    G().EncoderDefault = 1;
    G().EncoderAvailable[1] = false;
    f.Wave("kept.wav", 0.2);
    m->RunEncoder();
    G().EncoderAvailable[1] = true;
    m->mnuSetType_Click(0);
    m->RunEncoder();
    QCOMPARE(f.OutputFiles(), QStringList({"kept.wav"}));
    QVERIFY(QFile::remove(f.out + "/kept.wav"));
    // WMA: MP3 is not checked, so its encoder is not used even when chosen.
    m->mnuSetType_Click(2);
    QVERIFY(G().WmaAvailable[0] && G().WmaAvailable[1]);
    // wm8eutil: files of the user's named like its working files stay as they were, an older WMA
    // of the same name is replaced.
    G().WmaEncoder = 0;
    WriteFile(f.out + "/TMP.WAV", "the user's own TMP.WAV");
    WriteFile(f.out + "/tmp.wma", "the user's own tmp.wma");
    WriteFile(f.out + "/w8.wma", "an older file");
    f.Wave("w8.wav", 1.0);
    m->Panel("status")->clear();
    m->RunEncoder();
    QCOMPARE(m->Panel("status")->text(), QString("Encoding..."));
    QCOMPARE(f.OutputFiles(), QStringList({"TMP.WAV", "tmp.wma", "w8.wma"}));
    QCOMPARE(kvtest::readBytes((f.out + "/TMP.WAV").toStdString()), std::string("the user's own TMP.WAV"));
    QCOMPARE(kvtest::readBytes((f.out + "/tmp.wma").toStdString()), std::string("the user's own tmp.wma"));
    QVERIFY(QFile::remove(f.out + "/TMP.WAV") && QFile::remove(f.out + "/tmp.wma"));
    CheckWma(f.out + "/w8.wma", "w8", 1.0);
    // VBWAV2WMA: the window deletes the WAVE itself.
    G().WmaEncoder = 1;
    f.Wave("vb.wav", 1.0);
    m->RunEncoder();
    QCOMPARE(f.OutputFiles(), QStringList({"vb.wma", "w8.wma"}));
    CheckWma(f.out + "/vb.wma", "vb", 1.0);
    QVERIFY(f.messages.empty());
  }

  void encodeStepFailures() {
    EncoderFixture f;
    frmMain* m = f.Start();
    // A wm8eutil that ends without writing anything: reported, the WAVE back under its name.
    const QString fake = f.app + "/tools/wm8eutil.exe";
    WriteFile(fake, "#!/bin/sh\nexit 0\n");
    QFile::setPermissions(fake, QFile::permissions(fake) | QFile::ExeOwner);
    m->mnuSetType_Click(2);
    G().Wm8eutilPath = fake;
    G().WmaAvailable[0] = true;
    G().WmaEncoder = 0;
    const std::string wave = f.Wave("keep.wav", 0.3).toStdString(), before = kvtest::readBytes(wave);
    QVERIFY(before.size() > 44);
    m->RunEncoder();
    QCOMPARE(f.Shown(), QStringList("エンコードに失敗しました。|64"));
    QCOMPARE(f.OutputFiles(), QStringList({"keep.wav"}));
    // An SCMPX that cannot be started: reported, the WAVE kept.
    m->mnuSetType_Click(1);
    G().ScmpxPath = f.app + "/tools/nothing/scmpx.exe";
    G().EncoderAvailable[0] = true;
    G().EncoderDefault = 0;
    m->RunEncoder();
    QCOMPARE(f.Shown(), QStringList({"エンコードに失敗しました。|64", "エンコードに失敗しました。|64"}));
    QCOMPARE(f.OutputFiles(), QStringList({"keep.wav"}));
    QVERIFY(kvtest::readBytes(wave) == before);
  }

  void wm8eutilInOutputFolder() {
    EncoderFixture f;
    QVERIFY(f.Install("tools/wm8eutil.exe", "out put/wm8eutil.exe"));
    f.writeIni(("[Folder]\nWm8eutil=" + f.out + "/wm8eutil.exe\n").toUtf8());
    frmMain* m = f.Start();
    m->mnuSetType_Click(2);
    QCOMPARE(G().WmaEncoder, short(0));
    f.Wave("here.wav", 0.5);
    m->RunEncoder();
    QVERIFY(f.messages.empty());
    QCOMPARE(f.OutputFiles(), QStringList({"here.wma", "wm8eutil.exe"}));
    CheckWma(f.out + "/here.wma", "here", 0.5);
  }
};

QTEST_MAIN(EncoderRunTest)
#include "test_encoder_run.moc"
