// The capacity window on the offscreen platform, measuring real files: MIDI files in the
// source list, WAVE and MP3 files in the output folder.
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "CapacityFixture.h"
#include "capacity/Volume.h"
#include "capacity/frmSize.h"
#include "engine/MediaCommands.h"

using kv::G;

namespace {

// A loaded window, as the capacity command shows it, but without entering its modal loop.
std::unique_ptr<frmSize> Load(CapacityFixture& fx) {
  auto f = std::make_unique<frmSize>(fx.form.get());
  f->Form_Load();
  return f;
}

QColor TextColor(const QLabel* l) { return l->palette().color(QPalette::WindowText); }

// Runs the capacity command; `inspect` sees the modal window (if one opens) and closes it.
// Returns how many windows opened.
int RunCommand(CapacityFixture& fx, std::function<void(frmSize*)> inspect) {
  int opened = 0;
  QTimer timer;
  timer.setInterval(10);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    auto* w = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (auto* f = dynamic_cast<frmSize*>(w)) {
      timer.stop();
      ++opened;
      inspect(f);
      if (f->isVisible()) f->close();
    }
  });
  timer.start();
  fx.form->mnuFileSpace_Click();
  timer.stop();
  return opened;
}

}  // namespace

class CapacityWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void emptyFolderAndList();
  void midiListWithGapsAndDelay();
  void waveAndMp3FilesInTheFolder();
  void mp3FilesNeedTheLibrary();
  void fullDiscAndOneSecondOver();
  void tooLongTotalStillDrawsTheBar();
  void networkFolderIsRefused();
  void commandOpensAFreshModalWindowEachTime();
  void screenshotOfAHalfFullDisc();
};

void CapacityWindowTest::emptyFolderAndList() {
  CapacityFixture fx;
  auto f = Load(fx);
  QVERIFY(fx.messages.empty());
  QCOMPARE(f->windowTitle(), QStringLiteral("容量確認 [") + fx.out + "]");
  QCOMPARE(f->cboDisk->currentText(), QStringLiteral("650 MB(74min)"));
  QCOMPARE(f->cboDisk->itemData(1).toInt(), 4800);
  for (int i = 0; i < 2; ++i) {
    QCOMPARE(f->cboGap[i]->currentText(), QStringLiteral("２秒"));
    QCOMPARE(f->GapSeconds[i], 2.0f);
  }
  QCOMPARE(f->FileCount[0] + f->FileCount[1] + f->FileCount[2], 0);
  QCOMPARE(f->shaWave->width(), 0);
  QCOMPARE(f->shaMp3->width(), 0);
  QCOMPARE(f->shaMidi->width(), 0);
  QCOMPARE(f->lblCDRSpace->text(), QStringLiteral("CD-R空き時間：74分00秒"));
  QCOMPARE(TextColor(f->lblCDRSpace), QColor(0, 0, 0xFF));
  f->cboDisk->setCurrentIndex(1);
  QCOMPARE(f->lblCDRSpace->text(), QStringLiteral("CD-R空き時間：80分00秒"));
  // Free space of the volume holding the folder, named by its mount point.
  const QString drive = kv::MountOf(fx.out).mountPoint;
  const QRegularExpression re(QStringLiteral("^\\d{1,3}(,\\d{3})* bytes \\[(.*)\\]$"));
  const auto m = re.match(f->lblDiskSpace->text());
  QVERIFY2(m.hasMatch(), qPrintable(f->lblDiskSpace->text()));
  QCOMPARE(m.captured(2), drive);
  QVERIFY(f->lblDiskSpace->text() != QStringLiteral("0 bytes [") + drive + "]");
}

void CapacityWindowTest::midiListWithGapsAndDelay() {
  CapacityFixture fx;
  const QStringList midi = {fx.writeMidi("a.mid", 60), fx.writeMidi("b.mid", 60), fx.writeMidi("c.mid", 60)};
  fx.addToList(midi);
  auto f = Load(fx);
  QVERIFY(fx.messages.empty());
  QCOMPARE(f->FileCount[2], short(3));
  QCOMPARE(f->MidiSeconds, 180.0);
  QCOMPARE(f->lblCDRSpace->text(), QStringLiteral("CD-R空き時間：70分48秒"));
  QVERIFY(f->shaMidi->width() > 0);
  QCOMPARE(f->shaWave->width(), 0);

  // No gaps: 4440 - 180 s. Measurements stay as loaded, even with the files gone.
  for (const QString& p : midi) QVERIFY(QFile::remove(p));
  f->cboGap[0]->setCurrentIndex(0);
  QCOMPARE(f->lblCDRSpace->text(), QStringLiteral("CD-R空き時間：70分54秒"));  // one 2 s gap per track left
  f->cboGap[1]->setCurrentIndex(0);
  QCOMPARE(f->lblCDRSpace->text(), QStringLiteral("CD-R空き時間：71分00秒"));
  f->cboDisk->setCurrentIndex(1);
  QCOMPARE(f->lblCDRSpace->text(), QStringLiteral("CD-R空き時間：77分00秒"));
  QCOMPARE(f->MidiSeconds, 180.0);

  // With the record/play delay on, 2 s per entry whatever the delay is.
  CapacityFixture fx2;
  fx2.addToList({fx2.writeMidi("a.mid", 60), fx2.writeMidi("b.mid", 60), fx2.writeMidi("c.mid", 60)});
  fx2.form->mnuSetWait->setChecked(true);
  auto f2 = Load(fx2);
  QCOMPARE(f2->MidiSeconds, 186.0);
  QCOMPARE(f2->lblCDRSpace->text(), QStringLiteral("CD-R空き時間：70分42秒"));
}

void CapacityWindowTest::waveAndMp3FilesInTheFolder() {
  CapacityFixture fx;
  QVERIFY(fx.installVbmp3());
  fx.writeWave("one.wav", 30 * 44100 * 4, 44100, 16, 2);
  fx.writeWaveSeconds("二番 目.WAV", 45);
  QFile junk(fx.out + "/broken.wav");
  QVERIFY(junk.open(QIODevice::WriteOnly));
  junk.write("not a wave file at all");
  junk.close();
  fx.writeWaveSeconds("skip.wav.txt", 100);  // other names are not measured
  const QString mp3 = fx.encodeMp3("song.mp3", 3);
  QVERIFY(!mp3.isEmpty());
  QVERIFY(QFile::copy(mp3, fx.out + "/SECOND.MP3"));
  QFile bad(fx.out + "/bad.mp3");
  QVERIFY(bad.open(QIODevice::WriteOnly));
  bad.write(QByteArray(4000, 'x'));
  bad.close();

  auto f = Load(fx);
  QVERIFY(fx.messages.empty());
  // A WAVE file that cannot be opened is counted with no time; an unreadable MP3 is skipped.
  QCOMPARE(f->FileCount[0], short(3));
  QCOMPARE(f->WaveSeconds, 75.0);
  QCOMPARE(f->FileCount[1], short(2));
  QCOMPARE(f->Mp3Seconds, 6.0);
  // 4440 - (3*4 + 75) - (2*4 + 6) = 4339 s.
  QCOMPARE(f->lblCDRSpace->text(), QStringLiteral("CD-R空き時間：72分19秒"));
  QVERIFY(f->shaWave->width() > 0);
  QVERIFY(f->shaMp3->width() > f->shaWave->width());
  QCOMPARE(f->shaMidi->width(), f->shaMp3->width());
  // The media layer is left with no device open.
  QCOMPARE(MciSend("status CheckMedia mode"), QString());
}

void CapacityWindowTest::mp3FilesNeedTheLibrary() {
  CapacityFixture fx;  // no VBMP3.dll beside the program
  const QString mp3 = fx.encodeMp3("song.mp3", 2);
  QVERIFY(!mp3.isEmpty());
  auto f = Load(fx);
  QVERIFY(fx.messages.empty());
  QCOMPARE(f->FileCount[1], short(0));
  QCOMPARE(f->Mp3Seconds, 0.0);
  // With the library installed under another letter case, the same file counts.
  QVERIFY(QFile::copy(KV_BIN_DIR "/VBMP3.dll", fx.app + "/vbmp3.DLL"));
  auto f2 = Load(fx);
  QCOMPARE(f2->FileCount[1], short(1));
  QCOMPARE(f2->Mp3Seconds, 2.0);
}

void CapacityWindowTest::fullDiscAndOneSecondOver() {
  CapacityFixture fx;
  fx.writeWaveSeconds("full.wav", 4436);  // plus 2 + 2 s of gaps
  auto f = Load(fx);
  QCOMPARE(f->WaveSeconds, 4436.0);
  QCOMPARE(f->lblCDRSpace->text(), QStringLiteral("CD-R空き時間：0分00秒"));
  QCOMPARE(TextColor(f->lblCDRSpace), QColor(0, 0, 0xFF));
  QCOMPARE(f->shaWave->width(), f->shaDisk->width());

  CapacityFixture fx2;
  fx2.writeWaveSeconds("over.wav", 4437);
  auto f2 = Load(fx2);
  QCOMPARE(f2->lblCDRSpace->text(), QStringLiteral("CD-R空き時間：-1分59秒"));
  QCOMPARE(TextColor(f2->lblCDRSpace), QColor(0xFF, 0, 0));
  QVERIFY(fx2.messages.empty());
}

void CapacityWindowTest::tooLongTotalStillDrawsTheBar() {
  CapacityFixture fx;
  // 300 recordings of 42 s: 210 minutes.
  for (int i = 0; i < 300; ++i) fx.writeWaveSeconds(QStringLiteral("t%1.wav").arg(i, 3, 10, QLatin1Char('0')), 42);
  auto f = Load(fx);
  QCOMPARE(int(fx.messages.size()), 1);
  QCOMPARE(fx.messages[0].text, QStringLiteral("合計の時間が長すぎて、計算できません。"));
  QCOMPARE(fx.messages[0].style, int(kv::vbInformation));
  QCOMPARE(fx.messages[0].title, QStringLiteral("Korvessa"));
  QCOMPARE(f->FileCount[0], short(300));
  QCOMPARE(f->WaveSeconds, 12600.0);
  // The loading went on: gaps chosen, bar drawn past its frame, remaining time negative.
  QCOMPARE(f->cboGap[1]->currentIndex(), 2);
  QVERIFY(f->shaWave->width() > f->shaDisk->width());
  // 4440 - (300*4 + 12600) = -9360 s.
  QCOMPARE(f->lblCDRSpace->text(), QStringLiteral("CD-R空き時間：-156分00秒"));
  QCOMPARE(TextColor(f->lblCDRSpace), QColor(0xFF, 0, 0));
}

void CapacityWindowTest::networkFolderIsRefused() {
  CapacityFixture fx;
  G().WavePath = QStringLiteral("//server/share");
  const int opened = RunCommand(fx, [](frmSize*) {});
  QCOMPARE(opened, 0);
  QCOMPARE(int(fx.messages.size()), 1);
  QCOMPARE(fx.messages[0].text, QStringLiteral("ネットワークパスの容量は確認できません。"));
  QCOMPARE(fx.messages[0].style, int(kv::vbExclamation));
  QCOMPARE(fx.messages[0].title, QStringLiteral("Korvessa"));
}

void CapacityWindowTest::commandOpensAFreshModalWindowEachTime() {
  CapacityFixture fx;
  fx.writeWaveSeconds("first.wav", 60);
  QString text;
  bool modal = false;
  int opened = RunCommand(fx, [&](frmSize* f) {
    modal = f->isModal() && f->isVisible();
    text = f->lblCDRSpace->text();
    QTest::mouseClick(f->cmdClose, Qt::LeftButton);
  });
  QCOMPARE(opened, 1);
  QVERIFY(modal);
  QCOMPARE(text, QStringLiteral("CD-R空き時間：72分56秒"));  // 4440 - 64
  QVERIFY(fx.form->findChildren<frmSize*>().isEmpty());

  // The next opening measures again.
  fx.writeWaveSeconds("second.wav", 60);
  opened = RunCommand(fx, [&](frmSize* f) { text = f->lblCDRSpace->text(); });
  QCOMPARE(opened, 1);
  QCOMPARE(text, QStringLiteral("CD-R空き時間：71分52秒"));  // 4440 - 128
  QVERIFY(fx.form->findChildren<frmSize*>().isEmpty());
  QVERIFY(fx.messages.empty());
}

void CapacityWindowTest::screenshotOfAHalfFullDisc() {
  CapacityFixture fx;
  QApplication::setFont(QFont(QStringLiteral("IPAPGothic"), 9));  // the program's font
  auto f = Load(fx);
  f->cboGap[0]->setCurrentIndex(0);
  f->cboGap[1]->setCurrentIndex(0);
  // A sixth of the disc each: WAVE, MP3, then MIDI up to half.
  f->WaveSeconds = 740;
  f->Mp3Seconds = 740;
  f->MidiSeconds = 740;
  f->UpdateBar();
  f->show();
  QVERIFY(QTest::qWaitForWindowExposed(f.get()));
  QCOMPARE(f->lblCDRSpace->text(), QStringLiteral("CD-R空き時間：37分00秒"));
  const QImage img = f->grab().toImage();
  QVERIFY(img.save(KV_BIN_DIR "/../tests/capacity.png"));

  const QRect frame = f->shaDisk->geometry();
  QCOMPARE(frame, QRect(12, 64, 377, 29));  // 180,960 and 5655x435 twips
  auto near = [](int a, double b) { return std::abs(a - b) <= 1.0; };
  QVERIFY2(near(f->shaWave->width(), 377 / 6.0), qPrintable(QString::number(f->shaWave->width())));
  QVERIFY(near(f->shaMp3->width(), 377 / 3.0));
  QVERIFY(near(f->shaMidi->width(), 377 / 2.0));

  // Along the middle of the bar: yellow, blue, pink, then the white frame, each where it belongs.
  const int y = frame.center().y();
  auto rgb = [&](int x) { return QColor(img.pixel(x, y)); };
  const int l = frame.left();
  const std::pair<int, QColor> probes[] = {{30, {0xFF, 0xFF, 0xC0}}, {60, {0xFF, 0xFF, 0xC0}},
                                           {66, {0xC0, 0xC0, 0xFF}}, {122, {0xC0, 0xC0, 0xFF}},
                                           {129, {0xFF, 0xC0, 0xFF}}, {185, {0xFF, 0xC0, 0xFF}},
                                           {192, Qt::white},          {370, Qt::white}};
  for (const auto& [dx, colour] : probes) QCOMPARE(rgb(l + dx), colour);
  // Legend swatches.
  const QColor legend[4] = {Qt::white, QColor(0xFF, 0xC0, 0xFF), QColor(0xFF, 0xFF, 0xC0), QColor(0xC0, 0xC0, 0xFF)};
  for (int i = 0; i < 4; ++i) QCOMPARE(QColor(img.pixel(f->shaX[i]->geometry().center())), legend[i]);
}

QTEST_MAIN(CapacityWindowTest)
#include "test_capacity_window.moc"
