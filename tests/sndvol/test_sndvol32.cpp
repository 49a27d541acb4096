// sndvol32.exe's window on the offscreen platform: every change lands in the system setup file.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
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

  void volumeControl() {
    QVERIFY(!kv::sndvol::WantsRecordingControl({}));
    ControlWindow w(Mode::Volume);
    w.show();
    QCOMPARE(w.windowTitle(), QStringLiteral("ボリュームコントロール"));
    auto* slider = w.findChild<QSlider*>("volumeSlider");
    QCOMPARE(slider->value(), 100);  // no setup yet: full volume
    QVERIFY(!QFile::exists(ini_));   // opening the window writes nothing
    slider->setValue(35);
    QCOMPARE(w.findChild<QLabel*>("volumeValue")->text(), QStringLiteral("35 %"));
    QVERIFY(IniText().contains("Volume=35\n"));
  }

  void recordingControl() {
    QVERIFY(kv::sndvol::WantsRecordingControl({"/R"}) && kv::sndvol::WantsRecordingControl({"/r"}));
    kv::SystemSetup start;
    start.source = "alsa:hw:9,0";  // a capture device that is not plugged in now
    start.volume = 40;
    QVERIFY(kv::SaveSystemSetup(start));

    ControlWindow w(Mode::Recording);
    w.show();
    QCOMPARE(w.windowTitle(), QStringLiteral("録音コントロール"));
    auto* source = w.findChild<QComboBox*>("sourceCombo");
    auto* fast = w.findChild<QCheckBox*>("fastCheck");
    auto* sf = w.findChild<QLineEdit*>("soundFontEdit");
    auto* note = w.findChild<QLabel*>("soundFontWarning");
    // The synth's mix, the desktop's default input (the sound server), then the hardware.
    QCOMPARE(source->itemText(0), QStringLiteral("内蔵シンセサイザーのミックス"));
    QCOMPARE(source->itemText(1), QStringLiteral("デスクトップの既定の入力 (default)"));
    QCOMPARE(source->itemData(1).toString(), QStringLiteral("alsa:default"));
    for (int i = 2; i < source->count() - 1; ++i)
      QVERIFY2(source->itemData(i).toString().startsWith("alsa:hw:"), qPrintable(source->itemText(i)));
    QCOMPARE(source->currentData().toString(), QStringLiteral("alsa:hw:9,0"));  // kept, not lost
    QVERIFY(fast->isChecked());

    source->setCurrentIndex(0);
    QVERIFY(IniText().contains("Source=synth\n"));
    fast->setChecked(false);
    QVERIFY(IniText().contains("Fast=0\n"));
    w.setSoundFontPath("/usr/share/sounds/sf2/TimGM6mb.sf2");
    QVERIFY(IniText().contains("SoundFont=/usr/share/sounds/sf2/TimGM6mb.sf2\n"));
    QVERIFY(note->isHidden());

    sf->clear();
    QTest::keyClicks(sf, tmp_.filePath("gone.sf2"));
    QTest::keyClick(sf, Qt::Key_Return);
    QVERIFY(note->text().startsWith(QStringLiteral("SoundFont が見つかりません。")) && !note->isHidden());
    QVERIFY(IniText().contains("SoundFont=" + tmp_.filePath("gone.sf2") + "\n"));
    QVERIFY(IniText().contains("Volume=40\n"));  // the other control's value is left alone

    // The SoundFont file dialog is Japanese, Qt's own captions included.
    QFileDialog dialog(&w);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    QCOMPARE(dialog.findChild<QLabel*>("lookInLabel")->text(), QStringLiteral("アドレス:"));
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
