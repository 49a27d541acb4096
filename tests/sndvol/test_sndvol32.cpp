// sndvol32.exe's window on the offscreen platform: every change lands in the system setup file.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include "ControlWindow.h"
#include "SoundServer.h"
#include "syssetup.h"

using kv::sndvol::ControlWindow;
using kv::sndvol::Mode;

class SndVol32Test : public QObject {
  Q_OBJECT
  QTemporaryDir tmp_;
  QString ini_;
  std::unique_ptr<kvtest::SoundServer> server_;  // a desktop's sound server, as the default device

  QString IniText() const { return QString::fromStdString(kvtest::readBytes(ini_.toStdString())); }

 private slots:
  void initTestCase() {
    server_ = std::make_unique<kvtest::SoundServer>();  // before anything asks ALSA for devices
    QVERIFY2(server_->ok(), server_->log().c_str());
  }
  void cleanupTestCase() { server_.reset(); }

  void init() {
    ini_ = tmp_.filePath("korvessa/system.ini");
    QFile::remove(ini_);
    qputenv("KORVESSA_SYSTEM_INI", ini_.toUtf8());
  }

  void recordingControl() {
    kv::SystemSetup start;
    start.source = "alsa:hw:9,0";  // a capture device that is not plugged in now
    start.volume = 40;
    QVERIFY(kv::SaveSystemSetup(start));
    const QString stored = IniText();
    ControlWindow w(Mode::Recording);
    w.show();
    QCOMPARE(IniText(), stored);  // opening the window writes nothing
    auto* source = w.findChild<QComboBox*>("sourceCombo");
    auto* fast = w.findChild<QCheckBox*>("fastCheck");
    auto* sf = w.findChild<QLineEdit*>("soundFontEdit");
    QCOMPARE(source->itemData(1).toString(), QStringLiteral("alsa:default"));  // the sound server's input
    QCOMPARE(source->currentData().toString(), QStringLiteral("alsa:hw:9,0"));  // kept, not lost
    QVERIFY(fast->isChecked());

    source->setCurrentIndex(0);
    QVERIFY(IniText().contains("Source=synth\n"));
    fast->setChecked(false);
    QVERIFY(IniText().contains("Fast=0\n"));
    sf->clear();
    QTest::keyClicks(sf, tmp_.filePath("gone.sf2"));
    QTest::keyClick(sf, Qt::Key_Return);
    QVERIFY(IniText().contains("SoundFont=" + tmp_.filePath("gone.sf2") + "\n"));
    QVERIFY(IniText().contains("Volume=40\n"));  // the other control's value is left alone
    auto* loops = w.findChild<QSpinBox*>("loopsSpin");
    auto* fade = w.findChild<QDoubleSpinBox*>("fadeSpin");
    QCOMPARE(loops->value(), 2);
    QCOMPARE(fade->value(), 10.0);
    loops->setValue(0);
    QVERIFY(IniText().contains("Loops=0\n"));
    fade->setValue(2.5);
    QVERIFY(IniText().contains("Fade=2.5\n"));
    QCOMPARE(kv::LoadSystemSetup().fadeMs, 2500);
    auto* lanes = w.findChild<QSpinBox*>("lanesSpin");
    QCOMPARE(lanes->value(), 1);
    lanes->setValue(kv::kMaxLanes);
    QCOMPARE(kv::LoadSystemSetup().lanes, kv::kMaxLanes);

    // Every control and label has a place of its own: none covers another.
    const QList<QWidget*> parts = w.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (int i = 0; i < parts.size(); ++i)
      for (int j = i + 1; j < parts.size(); ++j)
        if (parts[i]->isVisible() && parts[j]->isVisible())
          QVERIFY2(!parts[i]->geometry().intersects(parts[j]->geometry()),
                   qPrintable(parts[i]->objectName() + "/" + parts[i]->metaObject()->className() + " covers " +
                              parts[j]->objectName() + "/" + parts[j]->metaObject()->className()));
  }

  void unwritableSetupIsShownInTheWindow() {
    qputenv("KORVESSA_SYSTEM_INI", "/proc/korvessa-none/system.ini");
    ControlWindow w(Mode::Recording);
    w.show();
    w.findChild<QCheckBox*>("fastCheck")->setChecked(false);
    QVERIFY(w.saveError().contains("/proc/korvessa-none/system.ini"));
    QVERIFY(!w.findChild<QLabel*>("statusLabel")->isHidden());
  }
};

QTEST_MAIN(SndVol32Test)
#include "test_sndvol32.moc"
