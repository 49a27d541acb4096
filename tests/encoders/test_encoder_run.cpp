// The encoders at work: each encoder with its progress window as a conversion chooses and runs
// it, each turning a real WAVE into a file ffprobe accepts.
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QtTest>

#include "EncoderFixture.h"
#include "encoders/CommandLineEncoders.h"
#include "encoders/EncoderBackend.h"
#include "encoders/ProgressWindow.h"
#include "encoders/VBWAV2WMA.h"
#include "shell/cSystemFolder.h"

using kv::G;

namespace {
// What ffprobe reads of a made file: its codec and title. Whether an encoder's output decodes
// whole is the encoder's own test; here only which file the backend made matters.
QString Made(const QString& path) {
  auto p = kvtest::probe(path.toStdString());
  return QString::fromStdString(p["codec_name"] + " " + p["title"]);
}

// The encoder a conversion chooses from the settings: output type 1 (MP3) or 2 (WMA), encoder
// number n, available; `own`: each encode with state of its own (engines side by side).
kv::EncoderChoice Choice(int type, int n, bool own = false) {
  const cSystemFolder folders;
  kv::EncoderChoice c = kv::ChooseEncoder(G(), type, G().AppPath, folders.System(), folders.Windows());
  c.inputRate = G().SampleRate;
  c.ownState = own;
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
  // The bit-rate option SCMPX is given (the whole command line runs in the convert test).
  void scmpxBitRateOptions() {
    const int rates[] = {48, 56, 64, 80, 96, 112, 128, 160, 192};
    for (int i = 0; i < 9; ++i) QCOMPARE(kv::ScmpxOptions(rates[i], false), QString(" -b%1 ").arg(i + 3));
    QCOMPARE(kv::ScmpxOptions(100, false) + "|" + kv::ScmpxOptions(100, true), QString("|-f "));
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
      bool own = false;       // the encoder's own-state form
    };
    // Messages name the program's folder "APP".
    const QString noInput = "入力ファイルを開けませんでした|48", failed = "エンコードに失敗しました。\r\n";
    const Row rows[] = {
        {"GoGo", {"gogo.dll"}, 1, 1, "song.wav", false, "GOGO[song.wav]|100.00 %|100|hidden", true, {}, {"song.mp3"}},
        {"GoGo closed: stops after the frame in progress, the WAVE goes all the same", {"gogo.dll"}, 1, 1, "long.wav", true,
         "GOGO[long.wav]|*", false, {"エラーが発生しました errcode = 0|48"}, {}},
        {"GoGo without its library says nothing", {}, 1, 1, "a.wav", false, "GOGO[a.wav]|*", false, {}, {}},
        {"GoGo, own state: no window", {}, 1, 1, "own.wav", false, "", true, {}, {"own.mp3"}, {}, true},
        {"GoGo, own state, missing WAVE", {}, 1, 1, "missing.wav", false, "", false, {noInput}, {},
         [](EncoderFixture& f) { QFile::remove(f.out + "/missing.wav"); }, true},
        {"GoGo, missing WAVE", {"gogo.dll"}, 1, 1, "missing.wav", false, "GOGO[missing.wav]|*", false, {noInput}, {},
         [](EncoderFixture& f) { QFile::remove(f.out + "/missing.wav"); }},
        {"ACM", {"VBMP3.dll", "system/L3CODECP.ACM"}, 1, 2, "acm.wav", false, "ACM[acm.wav]|*", true, {}, {"acm.mp3"}},
        {"ACM, own state: the codec alone", {"system/L3CODECP.ACM"}, 1, 2, "acm.wav", false, "", true, {}, {"acm.mp3"},
         {}, true},
        {"ACM closed: the wait ends at once as a normal end, the unfinished MP3 goes", {"VBMP3.dll", "system/L3CODECP.ACM"}, 1, 2,
         "stop.wav", true, "ACM[stop.wav]|0 %|0|hidden", true, {}, {}},
        {"VBWAV2WMA cannot be stopped; the title is the trimmed name", {"vbwav2wma.dll"}, 2, 1, "  spaced 曲  .wav", true,
         "VBWAV2WMA[  spaced 曲  .wav]|*", true, {}, {"  spaced 曲  .wma"}},
        {"VBWAV2WMA, own state: the trimmed name too", {}, 2, 1, "  own 曲  .wav", false, "", true, {},
         {"  own 曲  .wma"}, {}, true},
        {"VBWAV2WMA, own state, missing WAVE", {}, 2, 1, "missing.wav", false, "", false, {"エンコード失敗|0"},
         {}, [](EncoderFixture& f) { QFile::remove(f.out + "/missing.wav"); }, true},
        {"VBWAV2WMA, missing WAVE: the message without an icon", {"vbwav2wma.dll"}, 2, 1, "missing.wav", false, "VBWAV2WMA[missing.wav]|*",
         false, {"エンコード失敗|0"}, {}, [](EncoderFixture& f) { QFile::remove(f.out + "/missing.wav"); }},
        {"SCMPX that is gone: the WAVE stays", {}, 1, 0, "keep.wav", false, "", false,
         {failed + "APP/tools/nothing/scmpx.exe が見つかりません。|64"}, {"keep.wav"},
         [](EncoderFixture& f) { G().ScmpxPath = f.app + "/tools/nothing/scmpx.exe"; }},
        {"SCMPX that ends in an error: the WAVE stays", {}, 1, 0, "keep.wav", false, "", false,
         {failed + "APP/tools/scmpx.exe がエラーで終了しました (終了コード 3)。|64"}, {"keep.wav"},
         [](EncoderFixture& f) {
           kvtest::writeText((f.app + "/tools/scmpx.exe").toStdString(), "#!/bin/sh\nexit 3\n", true);
           G().ScmpxPath = f.app + "/tools/scmpx.exe";
         }},
        {"WM8EUTIL that writes nothing: the WAVE back under its name", {}, 2, 0, "keep.wav", false, "", false,
         {failed + "APP/tools/wm8eutil.exe は tmp.wma を作りませんでした。|64"}, {"keep.wav"},
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
      const Encoded e = Encode(Choice(r.type, r.encoder, r.own), wave, [&r](QWidget* w) { if (r.close) w->close(); });
      const QString view = r.view.endsWith('*') ? e.view.left(r.view.size() - 1) + "*" : e.view;
      QStringList said = e.messages;
      said.replaceInStrings(f.app, "APP");
      QVERIFY2(view == r.view && e.made == r.made && said == r.messages,
               qPrintable(QString(r.name) + ": " + e.view + " made " + QString::number(e.made) + " " + said.join(", ")));
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
      if (r.own && r.made) {
        // The same bytes as the shared library makes of the same WAVE.
        const std::string result = (f.out + "/" + r.files.first()).toStdString(), own = kvtest::readBytes(result);
        QFile::remove(QString::fromStdString(result));
        for (const QString lib : {"gogo.dll", "VBMP3.dll", "vbwav2wma.dll"}) QVERIFY(f.Install(lib, "app/" + lib));
        f.Wave(r.wave, 1.0);
        QVERIFY2(Encode(Choice(r.type, r.encoder), wave).made && kvtest::readBytes(result) == own, r.name);
      }
    }
    // No encoder for WAVE output, for a chosen encoder that is not available, nor for one of the other output type.
    kv::EncoderChoice c = Choice(1, 1), wmaOnly = Choice(2, 0);
    c.mp3Available[1] = false;
    wmaOnly.outputType = 1;
    QVERIFY(!kv::MakeEncoder(Choice(0, 0)) && !kv::MakeEncoder(c) && !kv::MakeEncoder(wmaOnly));
  }
};

QTEST_MAIN(EncoderRunTest)
#include "test_encoder_run.moc"
