// The capacity window on the offscreen platform, measuring real MIDI, WAVE and MP3 files.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <filesystem>
#include <functional>

#include "AppFixture.h"
#include "MidiFiles.h"
#include "Process.h"
#include "WaveFiles.h"
#include "app/Globals.h"
#include "capacity/Volume.h"
#include "capacity/frmSize.h"
#include "engine/MediaCommands.h"

using kv::G;

namespace {
const QColor kBlue(0, 0, 0xFF), kRed(0xFF, 0, 0);

// A window's program folder, an output folder and the source list's entries.
struct Fixture : AppFixture {
  QString out = root->path() + "/out";
  QStringList entries;
  Fixture() {
    QDir().mkpath(out);
    form = std::make_unique<frmMain>(app, "Dorvanti");
    G().WaitOn = false;
    G().AppPath = app;
    G().WavePath = out;
  }
  std::unique_ptr<frmSize> load() {
    auto f = std::make_unique<frmSize>(frmSize::Inputs{entries, G().WavePath, G().AppPath, G().WaitOn}, form.get());
    f->Form_Load();
    return f;
  }
  // Format-0 files of one note lasting `seconds` at the default 120 bpm (480 ticks a quarter).
  void songs(int count, int seconds) {
    smf::Track t;
    t.Event(0, {0x90, 0x3C, 0x64});
    t.Event(uint32_t(seconds) * 960, {0x80, 0x3C, 0});
    t.End(t.last);
    for (int i = 0; i < count; ++i) {
      entries << root->filePath(QStringLiteral("%1.mid").arg(i));
      kvtest::writeText(entries.back().toStdString(), smf::File(0, 480, {t}));
    }
  }
  // A PCM WAVE with the plain header; its samples are a hole in the file, so long ones take no room.
  QString wave(const QString& name, qint64 dataBytes, int rate = 8000, int bits = 8, int channels = 1) const {
    const QString path = name.startsWith('/') ? name : out + "/" + name;
    kvtest::writeText(path.toStdString(), kvtest::waveHeader(rate, bits, channels, uint32_t(dataBytes)));
    QFile(path).resize(44 + dataBytes);
    return path;
  }
  QString waveSeconds(const QString& name, qint64 seconds) const { return wave(name, seconds * 8000); }  // 8 kHz 8-bit mono
  // An MP3 made by scmpx.exe from `seconds` of 16-bit stereo silence at 44.1 kHz.
  QString mp3(const QString& name, int seconds) const {
    const QString wav = wave(root->filePath("mp3src.wav"), qint64(seconds) * 44100 * 4, 44100, 16, 2);
    const QString mp3 = out + "/" + name;
    kvtest::run({KV_BIN_DIR "/tools/scmpx.exe", "-e", "-b3", "-f", wav.toStdString(), mp3.toStdString()});
    return QFile::exists(mp3) ? mp3 : QString();
  }
  bool vbmp3(const QString& name = "VBMP3.dll") const { return QFile::copy(KV_BIN_DIR "/VBMP3.dll", app + "/" + name); }
  QStringList shown() const {
    QStringList s;
    for (const Message& m : messages) s << QString("%1|%2").arg(m.text).arg(m.style);
    return s;
  }
};

QColor TextColor(const QLabel* l) { return l->palette().color(QPalette::WindowText); }
QString Free(const QString& time) { return QStringLiteral("CD-R空き時間：") + time; }

// Runs the capacity command; `inspect` sees the modal window (if one opens). Returns how many opened.
int RunCommand(Fixture& fx, std::function<void(frmSize*)> inspect) {
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
  // Counts and seconds of WAVE, MP3 and MIDI; time left on a 74-minute disc with 2 + 2 s gaps per track.
  void measuresWhatIsThere() {
    const std::string sjis = "/\x8b\xc8\x41";  // Shift-JIS bytes that are not UTF-8
    struct Row {
      const char* name;
      std::function<void(Fixture&)> fill;
      const char* measured;  // "WAVE files/seconds MP3 files/seconds MIDI entries/seconds"
      const char* free;
      bool red;
      const char* bars;
      QString said;
    };
    const Row rows[] = {
        {"nothing", {}, "0/0 0/0 0/0", "74分00秒", false, "===<", {}},
        {"three songs with the delay on (2 s each)", [](Fixture& fx) { fx.songs(3, 60), G().WaitOn = true; },
         "0/0 0/0 3/186", "70分42秒", false, "==<<", {}},
        {"WAVE and MP3 files; broken ones and other names", [&](Fixture& fx) {
           QVERIFY(fx.vbmp3());
           std::filesystem::rename(fx.wave("one.wav", 30 * 44100 * 4, 44100, 16, 2).toStdString(), fx.out.toStdString() + sjis + ".wav");
           fx.waveSeconds("二番\" -x \"目.WAV", 45);
           kvtest::writeText((fx.out + "/broken.wav").toStdString(), "not a wave file at all");  // counted, no time
           fx.waveSeconds("skip.wav.txt", 100);
           std::filesystem::copy_file(fx.mp3("song.mp3", 3).toStdString(), fx.out.toStdString() + sjis + ".MP3");
           kvtest::writeText((fx.out + "/bad.mp3").toStdString(), std::string(4000, 'x'));  // skipped
         }, "3/75 2/6 0/0", "72分19秒", false, "<<=<", {}},
        {"MP3 without VBMP3.dll", [](Fixture& fx) { QVERIFY(!fx.mp3("song.mp3", 2).isEmpty()); }, "0/0 0/0 0/0", "74分00秒",
         false, "===<", {}},
        {"one second over", [](Fixture& fx) { fx.waveSeconds("over.wav", 4437); }, "1/4437 0/0 0/0", "-1分59秒", true,
         "<===", {}},
        {"too long to compute: the bar is still drawn", [](Fixture& fx) {
           for (int i = 0; i < 300; ++i) fx.waveSeconds(QStringLiteral("t%1.wav").arg(i), 42);  // 210 min
         }, "300/12600 0/0 0/0", "-156分00秒", true, "<==>",
         QStringLiteral("合計の時間が長すぎて、計算できません。|%1").arg(kv::vbInformation)},
    };
    for (const Row& r : rows) {
      Fixture fx;
      if (r.fill) r.fill(fx);
      const auto f = fx.load();
      const QString name = QString(r.name) + ": ";
      QCOMPARE(name + QStringLiteral("%1/%2 %3/%4 %5/%6")
                          .arg(f->FileCount[0]).arg(f->WaveSeconds).arg(f->FileCount[1]).arg(f->Mp3Seconds)
                          .arg(f->FileCount[2]).arg(f->MidiSeconds) + " " + f->lblCDRSpace->text(),
               name + r.measured + " " + Free(r.free));
      QCOMPARE(name + (TextColor(f->lblCDRSpace) == kRed ? "red" : TextColor(f->lblCDRSpace) == kBlue ? "blue" : "?"),
               name + (r.red ? "red" : "blue"));
      QCOMPARE(name + fx.shown().join('\n'), name + r.said);
      // The bars grow from 0 to WAVE's end, MP3's and MIDI's ("<" or "="), then the disc's frame.
      QString bars;
      const int w[] = {0, f->shaWave->width(), f->shaMp3->width(), f->shaMidi->width(), f->shaDisk->width()};
      for (int i = 1; i < 5; ++i) bars += w[i] > w[i - 1] ? '<' : w[i] == w[i - 1] ? '=' : '>';
      QCOMPARE(name + bars, name + r.bars);
      QCOMPARE(name + MciSend("status CheckMedia mode"), name);  // the media layer is left with no device open
      for (const char* ext : {".wav", ".MP3"}) std::filesystem::remove(fx.out.toStdString() + sjis + ext);
    }
  }

  void choicesRecomputeFromTheMeasurements() {
    Fixture fx;
    fx.songs(3, 60);
    const auto f = fx.load();
    const std::pair<std::function<void()>, const char*> steps[] = {
        {[&] { f->cboGap[0]->setCurrentIndex(0); }, "70分54秒"},  // one 2 s gap per track left
        {[&] { f->cboDisk->setCurrentIndex(1); }, "76分54秒"},    // 80 minutes: 4800 - 180 - 3 * 2 s
    };
    for (const auto& [step, free] : steps) {
      step();
      QCOMPARE(f->lblCDRSpace->text(), Free(free));
    }
  }

  void commandOpensAFreshModalWindowEachTimeAndRefusesNetworkFolders() {
    Fixture fx;
    fx.waveSeconds("first.wav", 60);
    QString text;
    QCOMPARE(RunCommand(fx, [&](frmSize* f) {
               text = f->lblCDRSpace->text();
               QTest::mouseClick(f->cmdClose, Qt::LeftButton);
             }), 1);
    QCOMPARE(text, Free("72分56秒"));  // 4440 - 64
    QVERIFY(fx.form->findChildren<frmSize*>().isEmpty() && fx.messages.empty());
    G().WavePath = QStringLiteral("//server/share");
    QCOMPARE(RunCommand(fx, [](frmSize*) {}), 0);
    QCOMPARE(fx.shown(), QStringList(QStringLiteral("ネットワークパスの容量は確認できません。|%1").arg(kv::vbExclamation)));
  }
};

QTEST_MAIN(CapacityWindowTest)
#include "test_capacity_window.moc"
