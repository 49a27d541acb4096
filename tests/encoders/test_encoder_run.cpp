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
double Seconds(const QString& path) { return Probe(path).value("duration").toDouble(); }

// An MP3's duration exceeds its WAVE's by LAME's delay and padding only.
void CheckMp3(const QString& mp3, const QString& wave, int kbps) {
  const auto p = Probe(mp3);
  QCOMPARE(p.value("codec_name"), QString("mp3"));
  if (kbps) QCOMPARE(p.value("bit_rate"), QString::number(kbps * 1000));
  const double wav = Seconds(wave);
  QVERIFY2(wav > 0, qPrintable(wave));
  QVERIFY2(std::abs(p.value("duration").toDouble() - wav) <= 0.060, qPrintable(p.value("duration")));
}

void CheckWma(const QString& wma, const QString& title, double seconds) {
  const auto p = Probe(wma);
  QCOMPARE(p.value("codec_name"), QString("wmav2"));
  QCOMPARE(p.value("bit_rate"), QString("64000"));
  QCOMPARE(p.value("sample_rate"), QString("44100"));
  QCOMPARE(p.value("channels"), QString("2"));
  QCOMPARE(p.value("title"), title);
  QVERIFY2(std::abs(p.value("duration").toDouble() - seconds) <= 0.15, qPrintable(p.value("duration")));
}
}  // namespace

class EncoderRunTest : public QObject {
  Q_OBJECT
 private slots:
  void scmpxCommandLines();
  void wm8eutilCommandLines();
  void percentTexts();
  void wmaSettingsRecord();
  void gogoWindowEncodes();
  void gogoWindowFailures();
  void gogoCallsAndProgress();
  void gogoWindowStopsOnClose();
  void acmWindowEncodesAndStops();
  void vbwmaWindowEncodes();
  void encodeStepMp3();
  void encodeStepWma();
  void encodeStepFailures();
  void wm8eutilInOutputFolder();
};

void EncoderRunTest::scmpxCommandLines() {
  QCOMPARE(kv::ScmpxCommandLine("/opt/sc mpx/scmpx.exe", 128, true, "/o d/song.wav"),
           QString("/opt/sc mpx/scmpx.exe -e -b9 -f \"/o d/song.wav\" \"/o d/song.mp3\""));
  const int rates[] = {48, 56, 64, 80, 96, 112, 128, 160, 192};
  for (int i = 0; i < 9; ++i) QCOMPARE(kv::ScmpxOptions(rates[i], false), QString(" -b%1 ").arg(i + 3));
  QCOMPARE(kv::ScmpxOptions(100, false), QString());
  QCOMPARE(kv::ScmpxOptions(100, true), QString("-f "));
  QCOMPARE(kv::ScmpxCommandLine("scmpx.exe", 320, false, "/a.WAV"), QString("scmpx.exe -e\"/a.WAV\" \"/a.mp3\""));
}

void EncoderRunTest::wm8eutilCommandLines() {
  QTemporaryDir dir;
  const QString tool = dir.path() + "/Tools/wm8eutil.exe";
  QDir().mkpath(dir.path() + "/Tools");
  QFile(tool).open(QIODevice::WriteOnly);
  // In the output folder (letter case ignored): the bare name.
  QCOMPARE(kv::Wm8eutilProgram(tool, dir.path() + "/tools"), QString("wm8eutil"));
  // Elsewhere: the short form of the path (here the path itself), empty when it is missing.
  QCOMPARE(kv::Wm8eutilProgram(tool, dir.path()), tool);
  QCOMPARE(kv::Wm8eutilProgram(dir.path() + "/gone/wm8eutil.exe", dir.path()), QString());
  QCOMPARE(kv::Wm8eutilCommandLine("wm8eutil", "曲 1"),
           QString("wm8eutil -input tmp.wav -output tmp.wma -title \"曲 1\""));
}

void EncoderRunTest::percentTexts() {
  QCOMPARE(kv::PercentText(0.35f), QString("0.35 %"));
  QCOMPARE(kv::PercentText(12.5f), QString("12.50 %"));
  QCOMPARE(kv::PercentText(100.f), QString("100.00 %"));
  QCOMPARE(kv::PercentText(104.25f), QString("104.25 %"));
  QCOMPARE(kv::PercentTextNoLeadingZero(0.45f), QString(".45 %"));
  QCOMPARE(kv::PercentTextNoLeadingZero(12.5f), QString("12.50 %"));
  QCOMPARE(kv::PercentTextNoLeadingZero(100.f), QString("100.00 %"));
  QCOMPARE(kv::BarValue(42.7f), 42);
  QCOMPARE(kv::BarValue(250.f), 100);  // more frames than announced: the bar stays full
}

void EncoderRunTest::wmaSettingsRecord() {
  QCOMPARE(kv::WmaTitleFor("/x/song.wav"), QString("song"));
  kv::WmaEncodeSettings s = kv::DefaultWmaSettings("  曲 song  ");
  s.Description = QString(300, 'd');
  const QByteArray rec = kv::WmaSettingsToAnsi(s);
  QCOMPARE(rec.size(), 788);
  QCOMPARE(rec.left(20), QByteArray::fromHex("40000000" "44ac0000" "02000000" "01000000" "00000000"));
  const QByteArray title = QString("曲 song").toUtf8();
  QCOMPARE(rec.mid(20, title.size()), title);
  QCOMPARE(rec.at(20 + title.size()), '\0');
  QCOMPARE(rec.mid(21 + title.size(), 128 - title.size() - 1), QByteArray(128 - title.size() - 1, ' '));
  QCOMPARE(rec.mid(148, 128), QByteArray(1, '\0') + QByteArray(127, ' '));
  QCOMPARE(rec.mid(404, 256), QByteArray(256, 'd'));  // cut at the field's size, no NUL
  QCOMPARE(rec.mid(660, 128), QByteArray(1, '\0') + QByteArray(127, ' '));
  const kv::WmaEncodeSettings back = kv::WmaSettingsFromAnsi(rec);
  QCOMPARE(back.Title, QString("曲 song"));
  QCOMPARE(back.Description, QString(256, 'd'));
  QCOMPARE(back.BitRate, 64);
  QCOMPARE(back.SampleRate, 44100);
}

void EncoderRunTest::gogoWindowEncodes() {
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
  QCOMPARE(w.lblPer->text(), QString("100.00 %"));
  QCOMPARE(w.pbr1->value(), 100);
  QVERIFY(f.messages.empty());
  CheckMp3(f.out + "/song.mp3", wave, 160);
  QVERIFY(QFile::exists(wave));  // the caller decides about the WAVE
}

void EncoderRunTest::gogoWindowFailures() {
  EncoderFixture f;
  f.Start();
  // No library: the window hides without a word.
  {
    f.Wave("a.wav", 0.2);
    frmGoGo w;
    w.Form_Load();
    QVERIFY(!w.isVisible());
    QVERIFY(f.messages.empty());
  }
  QVERIFY(f.Install("gogo.dll", "app/gogo.dll"));
  G().WaveFileName = f.out + "/missing.wav";
  {
    frmGoGo w;
    w.Form_Load();
    QVERIFY(!w.isVisible());
  }
  QCOMPARE(f.messages.size(), size_t(1));
  QCOMPARE(f.messages[0].text, QString("入力ファイルを開けませんでした"));
  QCOMPARE(f.messages[0].style, 48);
  QFile text(f.out + "/text.wav");
  QVERIFY(text.open(QIODevice::WriteOnly));
  text.write("this is not a wave file, only some words");
  text.close();
  G().WaveFileName = text.fileName();
  {
    frmGoGo w;
    w.Form_Load();
  }
  QCOMPARE(f.messages.size(), size_t(2));
  QCOMPARE(f.messages[1].text, QString("解析エラーが発生しました"));
  QCOMPARE(f.messages[1].style, 48);
  QCOMPARE(f.OutputFiles(), QStringList({"a.wav", "text.wav"}));
}

void EncoderRunTest::gogoCallsAndProgress() {
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
    QFile in(log);
    in.open(QIODevice::ReadOnly);
    return std::make_pair(std::move(w), QString::fromUtf8(in.readAll()).split('\n', Qt::SkipEmptyParts));
  };
  const QString before = QDir::currentPath();
  // More frames than announced: the label goes past 100, the bar stays full.
  auto [w, calls] = run(4, 6, "foo");
  QCOMPARE(calls, QStringList({"init " + f.app, "units", "set 1 " + f.out + "/song.wav", "set 2 " + f.out + "/song.mp3",
                               "set 6 22050", "set 3 1", "set 4 112", "detect", "get 15", "close 6", "end"}));
  QCOMPARE(w->lblPer->text(), QString("150.00 %"));
  QCOMPARE(w->pbr1->value(), 100);
  QCOMPARE(QDir::currentPath(), before);
  // No total: label and bar keep their first values; joint stereo is mode 2.
  auto [w0, calls0] = run(0, 3, "Joint Stereo");
  QCOMPARE(calls0.at(5), QString("set 3 2"));
  QCOMPARE(calls0.last(2), QStringList({"close 3", "end"}));
  QCOMPARE(w0->lblPer->text(), QString("0 %"));
  QCOMPARE(w0->pbr1->value(), 0);
  QVERIFY(!w0->isVisible());
  QVERIFY(f.messages.empty());
  qunsetenv("KV_FAKE_GOGO_LOG");
}

void EncoderRunTest::gogoWindowStopsOnClose() {
  EncoderFixture f;
  QVERIFY(f.Install("gogo.dll", "app/gogo.dll"));
  f.Start();
  f.Wave("long.wav", 4.0);
  frmGoGo w;
  // The close request arrives while the first frame's events are dispatched.
  QTimer::singleShot(0, &w, [&w] { w.close(); });
  w.Form_Load();
  QVERIFY(w.StopRequested());
  QVERIFY(!w.isVisible());
  QCOMPARE(f.messages.size(), size_t(1));
  QCOMPARE(f.messages[0].text, QString("エラーが発生しました errcode = 0"));
  QVERIFY(w.pbr1->value() < 100);
  QVERIFY(!QFile::exists(f.out + "/long.mp3"));
}

void EncoderRunTest::acmWindowEncodesAndStops() {
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
    QVERIFY2(QRegularExpression("^(0|\\d{0,3}\\.\\d\\d) %$").match(w.lblPer->text()).hasMatch(),
             qPrintable(w.lblPer->text()));
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

void EncoderRunTest::vbwmaWindowEncodes() {
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
  QCOMPARE(f.messages.size(), size_t(1));
  QCOMPARE(f.messages[0].text, QString("エンコード失敗"));
  QCOMPARE(f.messages[0].style, 0);
  QCOMPARE(f.OutputFiles(), QStringList({"  spaced 曲  .wma"}));
}

void EncoderRunTest::encodeStepMp3() {
  EncoderFixture f;
  f.InstallAll();
  f.WriteIni(("[Folder]\nScmpx=" + f.app + "/tools/scmpx.exe\n").toUtf8());
  frmMain* m = f.Start();
  m->mnuSetType_Click(1);
  G().Bitrate = 96;
  G().FastEncode = true;
  QVERIFY(G().EncoderAvailable[0] && G().EncoderAvailable[1] && G().EncoderAvailable[2]);
  // Each encoder leaves only its MP3.
  for (int encoder : {0, 1, 2}) {
    G().EncoderDefault = short(encoder);
    const QString name = QString("e%1").arg(encoder);
    const QString wave = f.Wave(name + ".wav", 1.0);
    const QString reference = f.root->path() + "/" + name + ".wav";
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
  QVERIFY(f.messages.empty());
}

void EncoderRunTest::encodeStepWma() {
  EncoderFixture f;
  f.InstallAll();
  f.WriteIni(("[Folder]\nWm8eutil=" + f.app + "/tools/wm8eutil.exe\n").toUtf8());
  frmMain* m = f.Start();
  m->mnuSetType_Click(2);
  // MP3 is not checked, so its encoder is not used even when chosen.
  QVERIFY(G().WmaAvailable[0] && G().WmaAvailable[1]);
  G().WmaEncoder = 0;
  // wm8eutil: a leftover tmp.wav goes, an older WMA of the same name is replaced.
  QFile stale(f.out + "/TMP.WAV");
  QVERIFY(stale.open(QIODevice::WriteOnly));
  stale.write("left by an interrupted run");
  stale.close();
  QFile old(f.out + "/w8.wma");
  QVERIFY(old.open(QIODevice::WriteOnly));
  old.write("an older file");
  old.close();
  f.Wave("w8.wav", 1.0);
  m->RunEncoder();
  QCOMPARE(m->Panel("status")->text(), QString("Encoding..."));
  QCOMPARE(f.OutputFiles(), QStringList({"w8.wma"}));
  CheckWma(f.out + "/w8.wma", "w8", 1.0);
  // VBWAV2WMA: the window deletes the WAVE itself.
  G().WmaEncoder = 1;
  f.Wave("vb.wav", 1.0);
  m->RunEncoder();
  QCOMPARE(f.OutputFiles(), QStringList({"vb.wma", "w8.wma"}));
  CheckWma(f.out + "/vb.wma", "vb", 1.0);
  QVERIFY(f.messages.empty());
}

void EncoderRunTest::encodeStepFailures() {
  EncoderFixture f;
  frmMain* m = f.Start();
  // A wm8eutil that ends without writing anything: reported, the WAVE back under its name.
  const QString fake = f.app + "/tools/wm8eutil.exe";
  QFile script(fake);
  QVERIFY(script.open(QIODevice::WriteOnly));
  script.write("#!/bin/sh\nexit 0\n");
  script.close();
  script.setPermissions(script.permissions() | QFile::ExeOwner);
  m->mnuSetType_Click(2);
  G().Wm8eutilPath = fake;
  G().WmaAvailable[0] = true;
  G().WmaEncoder = 0;
  const QString wave = f.Wave("keep.wav", 0.3);
  const auto bytes = [&wave] {
    QFile w(wave);
    return w.open(QIODevice::ReadOnly) ? w.readAll() : QByteArray();
  };
  const QByteArray before = bytes();
  QVERIFY(before.size() > 44);
  m->RunEncoder();
  QCOMPARE(f.messages.size(), size_t(1));
  QCOMPARE(f.messages[0].text, QString("エンコードに失敗しました。"));
  QCOMPARE(f.messages[0].style, 64);
  QCOMPARE(f.OutputFiles(), QStringList({"keep.wav"}));
  // An SCMPX that cannot be started: reported, the WAVE kept.
  m->mnuSetType_Click(1);
  G().ScmpxPath = f.app + "/tools/nothing/scmpx.exe";
  G().EncoderAvailable[0] = true;
  G().EncoderDefault = 0;
  m->RunEncoder();
  QCOMPARE(f.messages.size(), size_t(2));
  QCOMPARE(f.messages[1].text, QString("エンコードに失敗しました。"));
  QCOMPARE(f.messages[1].style, 64);
  QCOMPARE(f.OutputFiles(), QStringList({"keep.wav"}));
  QCOMPARE(bytes(), before);
}

void EncoderRunTest::wm8eutilInOutputFolder() {
  EncoderFixture f;
  QVERIFY(f.Install("tools/wm8eutil.exe", "out put/wm8eutil.exe"));
  f.WriteIni(("[Folder]\nWm8eutil=" + f.out + "/wm8eutil.exe\n").toUtf8());
  frmMain* m = f.Start();
  m->mnuSetType_Click(2);
  QCOMPARE(G().WmaEncoder, short(0));
  QCOMPARE(kv::Wm8eutilProgram(G().Wm8eutilPath, G().WavePath), QString("wm8eutil"));
  f.Wave("here.wav", 0.5);
  m->RunEncoder();
  QVERIFY(f.messages.empty());
  QCOMPARE(f.OutputFiles(), QStringList({"here.wma", "wm8eutil.exe"}));
  CheckWma(f.out + "/here.wma", "here", 0.5);
}

QTEST_MAIN(EncoderRunTest)
#include "test_encoder_run.moc"
