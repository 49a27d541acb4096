// The encoders at work: command lines, each encoder with its progress window as a conversion
// chooses and runs it, each turning a real WAVE into a file ffprobe accepts.
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "EncoderFixture.h"
#include "encoders/CommandLineEncoders.h"
#include "encoders/EncoderBackend.h"
#include "encoders/ProgressWindow.h"
#include "encoders/VBWAV2WMA.h"

using kv::G;

namespace {
// What ffprobe reads of a made file: its codec and title. Whether an encoder's output decodes
// whole is the encoder's own test; here only which file the backend made matters.
QString Made(const QString& path) {
  auto p = Probe(path);
  return QString::fromStdString(p["codec_name"] + " " + p["title"]);
}

// The encoder a conversion chooses: output type 1 (MP3) or 2 (WMA), encoder number n, available.
kv::EncoderChoice Choice(int type, int n) {
  kv::EncoderChoice c;
  c.outputType = type;
  (type == 1 ? c.mp3 : c.wma) = short(n);
  (type == 1 ? c.mp3Available : c.wmaAvailable)[n] = true;
  return c;
}

// One encode as a conversion runs it, with its progress window when it has one. `during` gets
// the window right after the start.
struct Encoded {
  bool made = false;
  QString view;  // "caption|label|bar|visible", empty without a window
  QStringList messages;  // "text|style"
};
Encoded Encode(const kv::EncoderChoice& c, const QString& wave, const std::function<void(QWidget*)>& during = {}) {
  Encoded r;
  const auto e = kv::MakeEncoder(c);
  if (!e) return r;
  QObject::connect(e.get(), &kv::EncoderBackend::message,
                   [&r](const QString& t, int style) { r.messages << t + "|" + QString::number(style); });
  std::unique_ptr<kv::ProgressWindow> view;
  if (!e->ViewCaption().isEmpty()) view = std::make_unique<kv::ProgressWindow>(e.get(), wave, nullptr);
  QSignalSpy finished(e.get(), &kv::EncoderBackend::finished);
  e->Start(wave);
  if (during) during(view.get());
  if (!finished.wait(60000)) return r;
  r.made = finished.first().first().toBool();
  if (view)
    r.view = view->windowTitle() + "|" + view->lblPer->text() + "|" + QString::number(view->bar()->value()) + "|" +
             (view->isVisible() ? "shown" : "hidden");
  return r;
}
}  // namespace

class EncoderRunTest : public QObject {
  Q_OBJECT
 private slots:
  void commandLinesAndProgressTexts() {
    QCOMPARE(kv::ScmpxCommandLine("/opt/sc mpx/scmpx.exe", 128, true, "/o d/song.wav"),
             QString("/opt/sc mpx/scmpx.exe -e -b9 -f \"/o d/song.wav\" \"/o d/song.mp3\""));
    QCOMPARE(kv::ScmpxCommandLine("scmpx.exe", 320, false, "/a.WAV"), QString("scmpx.exe -e\"/a.WAV\" \"/a.mp3\""));
    const int rates[] = {48, 56, 64, 80, 96, 112, 128, 160, 192};
    for (int i = 0; i < 9; ++i) QCOMPARE(kv::ScmpxOptions(rates[i], false), QString(" -b%1 ").arg(i + 3));
    QCOMPARE(kv::ScmpxOptions(100, false) + "|" + kv::ScmpxOptions(100, true), QString("|-f "));
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
    for (auto [v, text, bare, bar] : {std::tuple{0.35f, "0.35 %", ".35 %", 0}, {0.45f, "0.45 %", ".45 %", 0}, {12.5f, "12.50 %", "12.50 %", 12},
                                      {42.7f, "42.70 %", "42.70 %", 42}, {104.25f, "104.25 %", "104.25 %", 100}})
      QCOMPARE(kv::PercentText(v) + "|" + kv::PercentTextNoLeadingZero(v) + "|" + QString::number(kv::BarValue(v)),
               QString(text) + "|" + bare + "|" + QString::number(bar));
  }

  void wmaSettingsRecord() {
    // The program's settings are the library's record as the library fills it, and read back.
    kv::WmaEncodeSettings s = kv::DefaultWmaSettings("  曲 song  ");
    VbwwEncodeSettings library;
    kv::FillWmaSettings(library, "曲 song");
    const QByteArray rec = kv::WmaSettingsToAnsi(s);
    QCOMPARE(rec, QByteArray(reinterpret_cast<const char*>(&library), sizeof library));
    s.Description = QString(300, 'd');
    const kv::WmaEncodeSettings back = kv::WmaSettingsFromAnsi(kv::WmaSettingsToAnsi(s));
    QCOMPARE(back.Title + "|" + back.Description + "|" + QString::number(back.BitRate), "曲 song|" + QString(256, 'd') + "|64");
  }

  void gogoEncodesAndStops() {
    EncoderFixture f;
    QVERIFY(f.Install("gogo.dll", "app/gogo.dll"));
    f.Start();
    const Encoded r = Encode(Choice(1, 1), f.Wave("song.wav", 3.0));
    QCOMPARE(r.view, QString("GOGO[song.wav]|100.00 %|100|hidden"));
    QVERIFY(r.made && r.messages.empty());
    QCOMPARE(Made(f.out + "/song.mp3"), QString("mp3 "));
    QCOMPARE(f.OutputFiles(), QStringList("song.mp3"));
    // The close box stops the encode after the frame in progress; the WAVE goes all the same.
    f.Wave("long.wav", 4.0);
    const Encoded stopped = Encode(Choice(1, 1), f.out + "/long.wav", [](QWidget* w) { w->close(); });
    QCOMPARE(stopped.messages, QStringList("エラーが発生しました errcode = 0|48"));
    QVERIFY2(!stopped.made && !stopped.view.contains("|100|"), qPrintable(stopped.view));
    QCOMPARE(f.OutputFiles(), QStringList("song.mp3"));
  }

  void gogoFailures() {
    EncoderFixture f;
    f.Start();
    f.Wave("a.wav", 0.2);
    WriteFile(f.out + "/text.wav", "this is not a wave file, only some words");
    // No library: nothing said. Then a missing and an unreadable WAVE.
    QStringList messages;
    for (QString wave : {"a.wav", "missing.wav", "text.wav"}) {
      if (wave == "missing.wav") QVERIFY(f.Install("gogo.dll", "app/gogo.dll"));
      const Encoded r = Encode(Choice(1, 1), f.out + "/" + wave);
      QVERIFY2(!r.made && r.view.endsWith("|hidden"), qPrintable(wave));
      messages << r.messages;
    }
    QCOMPARE(messages, QStringList({"入力ファイルを開けませんでした|48", "解析エラーが発生しました|48"}));
    QCOMPARE(f.OutputFiles(), QStringList());
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
      G().SampleRate = 22050;
      G().Bitrate = 112;
      G().StereoMode = stereo;
      const Encoded r = Encode(Choice(1, 1), f.out + "/song.wav");
      return std::make_pair(r.view, QString::fromStdString(kvtest::readBytes(log.toStdString())).split('\n', Qt::SkipEmptyParts));
    };
    const QString before = QDir::currentPath();
    // More frames than announced: the label goes past 100, the bar stays full.
    auto [view, calls] = run(4, 6, "foo");
    QCOMPARE(calls, QStringList({"init " + f.app, "units", "set 1 " + f.out + "/song.wav", "set 2 " + f.out + "/song.mp3",
                                 "set 6 22050", "set 3 1", "set 4 112", "detect", "get 15", "close 6", "end"}));
    QCOMPARE(view, QString("GOGO[song.wav]|150.00 %|100|hidden"));
    QCOMPARE(QDir::currentPath(), before);
    // No total: label and bar keep their first values; joint stereo is mode 2.
    auto [view0, calls0] = run(0, 3, "Joint Stereo");
    QCOMPARE(calls0.at(5), QString("set 3 2"));
    QCOMPARE(calls0.last(2), QStringList({"close 3", "end"}));
    QCOMPARE(view0, QString("GOGO[song.wav]|0 %|0|hidden"));
    qunsetenv("KV_FAKE_GOGO_LOG");
  }

  void acmEncodesAndStops() {
    EncoderFixture f;
    QVERIFY(f.Install("VBMP3.dll", "app/VBMP3.dll"));
    QVERIFY(f.Install("system/L3CODECP.ACM", "system/L3CODECP.ACM"));
    f.Start();
    const Encoded r = Encode(Choice(1, 2), f.Wave("acm.wav", 2.0, 48000));
    QVERIFY(r.made && r.messages.empty());
    QVERIFY2(r.view.startsWith("ACM[acm.wav]|") && r.view.endsWith("|hidden"), qPrintable(r.view));
    QCOMPARE(Made(f.out + "/acm.mp3"), QString("mp3 "));
    // The close box ends the wait at once; the unfinished MP3 goes with the library's release.
    f.Wave("stop.wav", 20.0);
    const Encoded stopped = Encode(Choice(1, 2), f.out + "/stop.wav", [](QWidget* w) { w->close(); });
    QCOMPARE(stopped.view, QString("ACM[stop.wav]|0 %|0|hidden"));
    QVERIFY(stopped.messages.empty());
    QCOMPARE(f.OutputFiles(), QStringList("acm.mp3"));
  }

  void wmaLibraryEncodes() {
    EncoderFixture f;
    QVERIFY(f.Install("vbwav2wma.dll", "app/vbwav2wma.dll"));
    f.Start();
    // The title is the file's name without its extension, trimmed; the WAVE goes.
    const QString wave = f.Wave("  spaced 曲  .wav", 1.5, 48000);
    const Encoded r = Encode(Choice(2, 1), wave, [](QWidget* w) { w->close(); });  // it cannot be stopped
    QVERIFY(r.made && r.messages.empty());
    QVERIFY2(r.view.startsWith("VBWAV2WMA[  spaced 曲  .wav]|") && r.view.endsWith("|hidden"), qPrintable(r.view));
    QCOMPARE(Made(f.out + "/  spaced 曲  .wma"), QString("wmav2 spaced 曲"));
    // A failed open: the message without an icon.
    const Encoded failed = Encode(Choice(2, 1), f.out + "/missing.wav");
    QCOMPARE(failed.messages, QStringList("エンコード失敗|0"));
    QCOMPARE(f.OutputFiles(), QStringList({"  spaced 曲  .wma"}));
  }

  void commandLineEncodersAndChoice() {
    EncoderFixture f;
    f.InstallAll();
    f.writeIni(("[Folder]\nScmpx=" + f.app + "/tools/scmpx.exe\nWm8eutil=" + f.app + "/tools/wm8eutil.exe\n").toUtf8());
    f.Start();
    G().Bitrate = 96;
    G().FastEncode = true;
    QVERIFY(G().EncoderAvailable[0] && G().WmaAvailable[0]);
    QVERIFY(Encode(Choice(1, 0), f.Wave("e0.wav", 1.0)).made);
    QCOMPARE(f.OutputFiles(), QStringList({"e0.mp3"}));
    QCOMPARE(Made(f.out + "/e0.mp3"), QString("mp3 "));
    // No encoder for WAVE output, for a chosen encoder that is not available, nor for one of
    // the other output type.
    kv::EncoderChoice c = Choice(1, 1);
    c.mp3Available[1] = false;
    kv::EncoderChoice wmaOnly = Choice(2, 0);
    wmaOnly.outputType = 1;
    QVERIFY(!kv::MakeEncoder(Choice(0, 0)) && !kv::MakeEncoder(c) && !kv::MakeEncoder(wmaOnly));
    // wm8eutil: files of the user's named like its working files stay as they were, an older
    // WMA of the same name is replaced.
    WriteFile(f.out + "/TMP.WAV", "the user's own TMP.WAV");
    WriteFile(f.out + "/tmp.wma", "the user's own tmp.wma");
    WriteFile(f.out + "/w8.wma", "an older file");
    QVERIFY(Encode(Choice(2, 0), f.Wave("w8.wav", 1.0)).made);
    QCOMPARE(f.OutputFiles(), QStringList({"TMP.WAV", "e0.mp3", "tmp.wma", "w8.wma"}));
    QCOMPARE(kvtest::readBytes((f.out + "/TMP.WAV").toStdString()), std::string("the user's own TMP.WAV"));
    QCOMPARE(kvtest::readBytes((f.out + "/tmp.wma").toStdString()), std::string("the user's own tmp.wma"));
    QCOMPARE(Made(f.out + "/w8.wma"), QString("wmav2 w8"));
  }

  void commandLineEncoderFailures() {
    EncoderFixture f;
    f.Start();
    // A wm8eutil that ends without writing anything: reported, the WAVE back under its name.
    const QString fake = f.app + "/tools/wm8eutil.exe";
    WriteFile(fake, "#!/bin/sh\nexit 0\n");
    QFile::setPermissions(fake, QFile::permissions(fake) | QFile::ExeOwner);
    G().Wm8eutilPath = fake;
    const QString wave = f.Wave("keep.wav", 0.3);
    const std::string before = kvtest::readBytes(wave.toStdString());
    QVERIFY(before.size() > 44);
    const Encoded r = Encode(Choice(2, 0), wave);
    QCOMPARE(r.messages, QStringList("エンコードに失敗しました。|64"));
    // An SCMPX that cannot be started: reported, the WAVE kept.
    G().ScmpxPath = f.app + "/tools/nothing/scmpx.exe";
    const Encoded s = Encode(Choice(1, 0), wave);
    QCOMPARE(s.messages, QStringList("エンコードに失敗しました。|64"));
    QVERIFY(!r.made && !s.made);
    QCOMPARE(f.OutputFiles(), QStringList({"keep.wav"}));
    QVERIFY(kvtest::readBytes(wave.toStdString()) == before);
  }

  void wm8eutilInOutputFolder() {
    EncoderFixture f;
    QVERIFY(f.Install("tools/wm8eutil.exe", "out put/wm8eutil.exe"));
    f.writeIni(("[Folder]\nWm8eutil=" + f.out + "/wm8eutil.exe\n").toUtf8());
    f.Start();
    QCOMPARE(G().WmaEncoder, short(0));
    const Encoded r = Encode(Choice(2, 0), f.Wave("here.wav", 0.5));
    QVERIFY(r.made && r.messages.empty());
    QCOMPARE(f.OutputFiles(), QStringList({"here.wma", "wm8eutil.exe"}));
    QCOMPARE(Made(f.out + "/here.wma"), QString("wmav2 here"));
  }
};

QTEST_MAIN(EncoderRunTest)
#include "test_encoder_run.moc"
