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

#include <filesystem>
#include <functional>

#include "CapacityFixture.h"
#include "capacity/Volume.h"
#include "capacity/frmSize.h"
#include "engine/MediaCommands.h"

using kv::G;

namespace {
const QColor kBlue(0, 0, 0xFF), kRed(0xFF, 0, 0);

// A loaded window, as the capacity command shows it, but without entering its modal loop.
std::unique_ptr<frmSize> Load(CapacityFixture& fx) {
  auto f = std::make_unique<frmSize>(fx.form->Sources->Entries(), fx.form.get());
  f->Form_Load();
  return f;
}

QColor TextColor(const QLabel* l) { return l->palette().color(QPalette::WindowText); }
QString Free(const QString& time) { return QStringLiteral("CD-R空き時間：") + time; }

// Runs the capacity command; `inspect` sees the modal window (if one opens) and closes it.
// Returns how many windows opened.
int RunCommand(CapacityFixture& fx, std::function<void(frmSize*)> inspect) {
  int opened = 0;
  QTimer timer;
  timer.setInterval(10);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (auto* f = dynamic_cast<frmSize*>(QApplication::activeModalWidget())) {
      timer.stop();
      ++opened;
      inspect(f);
      if (f->isVisible()) f->close();
    }
  });
  timer.start();
  fx.form->mnuFileSpace_Click();
  return opened;
}
}  // namespace

class CapacityWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void emptyFolderAndList() {
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
    QCOMPARE(f->shaWave->width() + f->shaMp3->width() + f->shaMidi->width(), 0);
    QCOMPARE(f->lblCDRSpace->text(), Free("74分00秒"));
    QCOMPARE(TextColor(f->lblCDRSpace), kBlue);
    f->cboDisk->setCurrentIndex(1);
    QCOMPARE(f->lblCDRSpace->text(), Free("80分00秒"));
    // Free space of the volume holding the folder, named by its mount point.
    const QString drive = kv::MountOf(fx.out).mountPoint;
    const auto m = QRegularExpression(QStringLiteral("^\\d{1,3}(,\\d{3})* bytes \\[(.*)\\]$")).match(f->lblDiskSpace->text());
    QVERIFY2(m.hasMatch(), qPrintable(f->lblDiskSpace->text()));
    QCOMPARE(m.captured(2), drive);
    QVERIFY(f->lblDiskSpace->text() != QStringLiteral("0 bytes [") + drive + "]");
  }

  void midiListWithGapsAndDelay() {
    CapacityFixture fx;
    const QStringList midi = {fx.writeMidi("a.mid", 60), fx.writeMidi("b.mid", 60), fx.writeMidi("c.mid", 60)};
    fx.addToList(midi);
    auto f = Load(fx);
    QVERIFY(fx.messages.empty());
    QCOMPARE(f->FileCount[2], short(3));
    QCOMPARE(f->MidiSeconds, 180.0);
    QCOMPARE(f->lblCDRSpace->text(), Free("70分48秒"));
    QVERIFY(f->shaMidi->width() > 0);
    QCOMPARE(f->shaWave->width(), 0);
    // No gaps: 4440 - 180 s. Measurements stay as loaded, even with the files gone.
    for (const QString& p : midi) QVERIFY(QFile::remove(p));
    f->cboGap[0]->setCurrentIndex(0);
    QCOMPARE(f->lblCDRSpace->text(), Free("70分54秒"));  // one 2 s gap per track left
    f->cboGap[1]->setCurrentIndex(0);
    QCOMPARE(f->lblCDRSpace->text(), Free("71分00秒"));
    f->cboDisk->setCurrentIndex(1);
    QCOMPARE(f->lblCDRSpace->text(), Free("77分00秒"));
    QCOMPARE(f->MidiSeconds, 180.0);
    // With the record/play delay on, 2 s per entry whatever the delay is.
    CapacityFixture fx2;
    fx2.addToList({fx2.writeMidi("a.mid", 60), fx2.writeMidi("b.mid", 60), fx2.writeMidi("c.mid", 60)});
    kv::G().WaitOn = true;
    auto f2 = Load(fx2);
    QCOMPARE(f2->MidiSeconds, 186.0);
    QCOMPARE(f2->lblCDRSpace->text(), Free("70分42秒"));
  }

  void waveAndMp3FilesInTheFolder() {
    CapacityFixture fx;
    QVERIFY(fx.installVbmp3());
    // Names only Linux allows: a quote around option-like text, and Shift-JIS bytes that are not UTF-8.
    fx.writeWave("one.wav", 30 * 44100 * 4, 44100, 16, 2);
    const std::string sjis = (fx.out + "/").toStdString() + "\x8b\xc8\x41";
    std::filesystem::rename((fx.out + "/one.wav").toStdString(), sjis + ".wav");
    fx.writeWaveSeconds("二番\" -x \"目.WAV", 45);
    kvtest::writeText((fx.out + "/broken.wav").toStdString(), "not a wave file at all");
    fx.writeWaveSeconds("skip.wav.txt", 100);  // other names are not measured
    const QString mp3 = fx.encodeMp3("song.mp3", 3);
    QVERIFY(!mp3.isEmpty());
    std::filesystem::copy_file(mp3.toStdString(), sjis + ".MP3");
    kvtest::writeText((fx.out + "/bad.mp3").toStdString(), std::string(4000, 'x'));
    auto f = Load(fx);
    QVERIFY(fx.messages.empty());
    // A WAVE file that cannot be opened is counted with no time; an unreadable MP3 is skipped.
    QCOMPARE(f->FileCount[0], short(3));
    QCOMPARE(f->WaveSeconds, 75.0);
    QCOMPARE(f->FileCount[1], short(2));
    QCOMPARE(f->Mp3Seconds, 6.0);
    QCOMPARE(f->lblCDRSpace->text(), Free("72分19秒"));  // 4440 - (3*4 + 75) - (2*4 + 6) = 4339 s
    QVERIFY(f->shaWave->width() > 0);
    QVERIFY(f->shaMp3->width() > f->shaWave->width());
    QCOMPARE(f->shaMidi->width(), f->shaMp3->width());
    QCOMPARE(MciSend("status CheckMedia mode"), QString());  // the media layer is left with no device open
    for (const char* ext : {".wav", ".MP3"}) std::filesystem::remove(sjis + ext);  // out of QTemporaryDir's reach
  }

  void mp3FilesNeedTheLibrary() {
    CapacityFixture fx;  // no VBMP3.dll beside the program
    QVERIFY(!fx.encodeMp3("song.mp3", 2).isEmpty());
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

  void fullDiscAndOneSecondOver() {
    CapacityFixture fx;
    fx.writeWaveSeconds("full.wav", 4436);  // plus 2 + 2 s of gaps
    auto f = Load(fx);
    QCOMPARE(f->WaveSeconds, 4436.0);
    QCOMPARE(f->lblCDRSpace->text(), Free("0分00秒"));
    QCOMPARE(TextColor(f->lblCDRSpace), kBlue);
    QCOMPARE(f->shaWave->width(), f->shaDisk->width());
    CapacityFixture fx2;
    fx2.writeWaveSeconds("over.wav", 4437);
    auto f2 = Load(fx2);
    QCOMPARE(f2->lblCDRSpace->text(), Free("-1分59秒"));
    QCOMPARE(TextColor(f2->lblCDRSpace), kRed);
    QVERIFY(fx2.messages.empty());
  }

  void tooLongTotalStillDrawsTheBar() {
    CapacityFixture fx;
    for (int i = 0; i < 300; ++i) fx.writeWaveSeconds(QStringLiteral("t%1.wav").arg(i, 3, 10, QLatin1Char('0')), 42);  // 210 min
    auto f = Load(fx);
    QCOMPARE(fx.shown(), QStringList(QStringLiteral("合計の時間が長すぎて、計算できません。|%1|Korvessa").arg(kv::vbInformation)));
    QCOMPARE(f->FileCount[0], short(300));
    QCOMPARE(f->WaveSeconds, 12600.0);
    // The loading went on: gaps chosen, bar drawn past its frame, remaining time negative.
    QCOMPARE(f->cboGap[1]->currentIndex(), 2);
    QVERIFY(f->shaWave->width() > f->shaDisk->width());
    QCOMPARE(f->lblCDRSpace->text(), Free("-156分00秒"));  // 4440 - (300*4 + 12600) = -9360 s
    QCOMPARE(TextColor(f->lblCDRSpace), kRed);
  }

  void networkFolderIsRefused() {
    CapacityFixture fx;
    G().WavePath = QStringLiteral("//server/share");
    QCOMPARE(RunCommand(fx, [](frmSize*) {}), 0);
    QCOMPARE(fx.shown(), QStringList(QStringLiteral("ネットワークパスの容量は確認できません。|%1|Korvessa").arg(kv::vbExclamation)));
  }

  void commandOpensAFreshModalWindowEachTime() {
    CapacityFixture fx;
    fx.writeWaveSeconds("first.wav", 60);
    QString text;
    bool modal = false;
    QCOMPARE(RunCommand(fx, [&](frmSize* f) {
               modal = f->isModal() && f->isVisible();
               text = f->lblCDRSpace->text();
               QTest::mouseClick(f->cmdClose, Qt::LeftButton);
             }), 1);
    QVERIFY(modal);
    QCOMPARE(text, Free("72分56秒"));  // 4440 - 64
    QVERIFY(fx.form->findChildren<frmSize*>().isEmpty());
    // The next opening measures again.
    fx.writeWaveSeconds("second.wav", 60);
    QCOMPARE(RunCommand(fx, [&](frmSize* f) { text = f->lblCDRSpace->text(); }), 1);
    QCOMPARE(text, Free("71分52秒"));  // 4440 - 128
    QVERIFY(fx.form->findChildren<frmSize*>().isEmpty());
    QVERIFY(fx.messages.empty());
  }

  void screenshotOfAHalfFullDisc() {
    CapacityFixture fx;
    QApplication::setFont(QFont(QStringLiteral("IPAPGothic"), 9));  // the program's font
    auto f = Load(fx);
    f->cboGap[0]->setCurrentIndex(0);
    f->cboGap[1]->setCurrentIndex(0);
    f->WaveSeconds = f->Mp3Seconds = f->MidiSeconds = 740;  // a sixth of the disc each: WAVE, MP3, then MIDI up to half
    f->UpdateBar();
    f->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.get()));
    QCOMPARE(f->lblCDRSpace->text(), Free("37分00秒"));
    const QImage img = f->grab().toImage();
    const QRect frame = f->shaDisk->geometry();
    QCOMPARE(frame, QRect(12, 64, 377, 29));  // 180,960 and 5655x435 twips
    for (auto [bar, share] : {std::pair{f->shaWave, 6.0}, {f->shaMp3, 3.0}, {f->shaMidi, 2.0}})
      QVERIFY2(std::abs(bar->width() - 377 / share) <= 1.0, qPrintable(QString::number(bar->width())));
    // Along the middle of the bar: yellow, blue, pink, then the white frame, each where it belongs.
    const QColor yellow(0xFF, 0xFF, 0xC0), blue(0xC0, 0xC0, 0xFF), pink(0xFF, 0xC0, 0xFF), white(Qt::white);
    for (auto [dx, colour] : {std::pair{30, yellow}, {60, yellow}, {66, blue}, {122, blue}, {129, pink}, {185, pink}, {192, white}, {370, white}})
      QCOMPARE(QColor(img.pixel(frame.left() + dx, frame.center().y())), colour);
    const QColor legend[4] = {white, pink, yellow, blue};  // the legend swatches
    for (int i = 0; i < 4; ++i) QCOMPARE(QColor(img.pixel(f->shaX[i]->geometry().center())), legend[i]);
  }
};

QTEST_MAIN(CapacityWindowTest)
#include "test_capacity_window.moc"
