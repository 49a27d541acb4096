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
  auto p = kvtest::probe(path.toStdString());
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

  // Each encoder as a conversion runs it: its window, its messages, what the output folder holds after.
  void encodersAtWork() {
    struct Row {
      const char* name;
      QStringList install;  // built components, placed under app/ (system/ for the codec)
      int type, encoder;
      QString wave;           // in the output folder; written unless prepare makes it
      bool close;             // the close box right after the start
      QString view;           // exact, or a prefix before '*'
      bool made;
      QStringList messages;   // "text|style"
      QStringList files;      // the output folder afterwards
      std::function<void(EncoderFixture&)> prepare = {};
    };
    const QString noInput = "入力ファイルを開けませんでした|48", failed = "エンコードに失敗しました。|64";
    const Row rows[] = {
        {"GoGo", {"gogo.dll"}, 1, 1, "song.wav", false, "GOGO[song.wav]|100.00 %|100|hidden", true, {}, {"song.mp3"}},
        {"GoGo closed: stops after the frame in progress, the WAVE goes all the same", {"gogo.dll"}, 1, 1, "long.wav", true,
         "GOGO[long.wav]|*", false, {"エラーが発生しました errcode = 0|48"}, {}},
        {"GoGo without its library says nothing", {}, 1, 1, "a.wav", false, "GOGO[a.wav]|*", false, {}, {}},
        {"GoGo, missing WAVE", {"gogo.dll"}, 1, 1, "missing.wav", false, "GOGO[missing.wav]|*", false, {noInput}, {},
         [](EncoderFixture& f) { QFile::remove(f.out + "/missing.wav"); }},
        {"GoGo, text for a WAVE", {"gogo.dll"}, 1, 1, "text.wav", false, "GOGO[text.wav]|*", false, {"解析エラーが発生しました|48"}, {},
         [](EncoderFixture& f) { WriteFile(f.out + "/text.wav", "this is not a wave file, only some words"); }},
        {"ACM", {"VBMP3.dll", "system/L3CODECP.ACM"}, 1, 2, "acm.wav", false, "ACM[acm.wav]|*", true, {}, {"acm.mp3"}},
        {"ACM closed: the wait ends at once as a normal end, the unfinished MP3 goes", {"VBMP3.dll", "system/L3CODECP.ACM"}, 1, 2,
         "stop.wav", true, "ACM[stop.wav]|0 %|0|hidden", true, {}, {}},
        {"VBWAV2WMA cannot be stopped; the title is the trimmed name", {"vbwav2wma.dll"}, 2, 1, "  spaced 曲  .wav", true,
         "VBWAV2WMA[  spaced 曲  .wav]|*", true, {}, {"  spaced 曲  .wma"}},
        {"VBWAV2WMA, missing WAVE: the message without an icon", {"vbwav2wma.dll"}, 2, 1, "missing.wav", false, "VBWAV2WMA[missing.wav]|*",
         false, {"エンコード失敗|0"}, {}, [](EncoderFixture& f) { QFile::remove(f.out + "/missing.wav"); }},
        {"SCMPX that cannot be started: the WAVE stays", {}, 1, 0, "keep.wav", false, "", false, {failed}, {"keep.wav"},
         [](EncoderFixture& f) { G().ScmpxPath = f.app + "/tools/nothing/scmpx.exe"; }},
        {"WM8EUTIL that writes nothing: the WAVE back under its name", {}, 2, 0, "keep.wav", false, "", false, {failed}, {"keep.wav"},
         [](EncoderFixture& f) {
           WriteFile(f.app + "/tools/wm8eutil.exe", "#!/bin/sh\nexit 0\n");
           QFile::setPermissions(f.app + "/tools/wm8eutil.exe", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
           G().Wm8eutilPath = f.app + "/tools/wm8eutil.exe";
         }},
        {"WM8EUTIL keeps the user's own files named like its working files", {"tools/wm8eutil.exe"}, 2, 0, "w8.wav", false, "", true, {},
         {"TMP.WAV", "tmp.wma", "w8.wma"}, [](EncoderFixture& f) {
           G().Wm8eutilPath = f.app + "/tools/wm8eutil.exe";
           for (QString n : {"TMP.WAV", "tmp.wma"}) WriteFile(f.out + "/" + n, "the user's own " + n.toUtf8());
           WriteFile(f.out + "/w8.wma", "an older file");
         }},
        {"WM8EUTIL in the output folder runs by its bare name", {}, 2, 0, "here.wav", false, "", true, {}, {"here.wma", "wm8eutil.exe"},
         [](EncoderFixture& f) {
           QVERIFY(f.Install("tools/wm8eutil.exe", "out put/wm8eutil.exe"));
           G().Wm8eutilPath = f.out + "/wm8eutil.exe";
         }},
    };
    for (const Row& r : rows) {
      EncoderFixture f;
      for (const QString& c : r.install) QVERIFY2(f.Install(c, c.startsWith("system/") ? c : "app/" + c), r.name);
      f.Start();
      f.Wave(r.wave, r.close && r.type == 1 ? 20.0 : 1.0);  // long enough for a close to come mid-encode
      if (r.prepare) r.prepare(f);
      const QString wave = f.out + "/" + r.wave;
      const std::string before = kvtest::readBytes(wave.toStdString());
      const Encoded e = Encode(Choice(r.type, r.encoder), wave, [&r](QWidget* w) { if (r.close) w->close(); });
      const QString view = r.view.endsWith('*') ? e.view.left(r.view.size() - 1) + "*" : e.view;
      QVERIFY2(view == r.view && e.made == r.made && e.messages == r.messages,
               qPrintable(QString(r.name) + ": " + e.view + " made " + QString::number(e.made) + " " + e.messages.join(", ")));
      QVERIFY2(r.made || !e.view.contains("|100|"), r.name);
      QVERIFY2(f.OutputFiles() == r.files, qPrintable(QString(r.name) + ": " + f.OutputFiles().join(", ")));
      if (r.files.contains(r.wave)) QVERIFY2(kvtest::readBytes(wave.toStdString()) == before, r.name);
      for (const QString& n : r.files) {  // the user's files as they were, the new output made by the encoder
        const QString path = f.out + "/" + n, bytes = QString::fromStdString(kvtest::readBytes(path.toStdString()));
        const QString made = bytes.startsWith("the user's own") ? bytes : n.endsWith(".mp3") || n.endsWith(".wma") ? Made(path) : "kept";
        const QString expected = bytes.startsWith("the user's own") ? "the user's own " + n
                                 : n.endsWith(".mp3") ? QString("mp3 ")
                                 : n.endsWith(".wma") ? "wmav2 " + QFileInfo(r.wave).completeBaseName().trimmed() : "kept";
        QVERIFY2(made == expected, qPrintable(QString(r.name) + ": " + n + ": " + made));
      }
    }
    // No encoder for WAVE output, for a chosen encoder that is not available, nor for one of the other output type.
    kv::EncoderChoice c = Choice(1, 1), wmaOnly = Choice(2, 0);
    c.mp3Available[1] = false;
    wmaOnly.outputType = 1;
    QVERIFY(!kv::MakeEncoder(Choice(0, 0)) && !kv::MakeEncoder(c) && !kv::MakeEncoder(wmaOnly));
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

};

QTEST_MAIN(EncoderRunTest)
#include "test_encoder_run.moc"
