// The encoder settings dialog opened through its menu command: what it shows, how locating the
// two programs moves the choice, and what OK and the close box leave behind.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include "EncoderFixture.h"
#include "encoders/frmEncoder.h"

using kv::G;

namespace {
struct DialogCall {
  QString kind, title, initialDir;
};

// Opens the dialog through the menu command and lets act work on it; act must close it.
template <class Act>
void WithDialog(frmMain* m, Act act) {
  bool seen = false;
  QTimer::singleShot(0, m, [&] {
    auto* d = qobject_cast<frmEncoder*>(QApplication::activeModalWidget());
    seen = d != nullptr;
    if (d) act(d);
  });
  m->mnuSetEncoder_Click();
  QVERIFY(seen);
}

void Answer(std::vector<DialogCall>* calls, const QStringList& files) {
  kv::SetDialogHook([calls, files](const QString& kind, const QString& title, const QString& dir) {
    calls->push_back({kind, title, dir});
    return files;
  });
}
}  // namespace

class EncoderSettingsTest : public QObject {
  Q_OBJECT
 private slots:
  void nothingAvailable();
  void locatingScmpxSelectsIt();
  void wrongProgramMovesToGogo();
  void locatingWm8eutil();
  void unexpectedStereoModeAndRate();
  void closeBoxKeepsSettings();
};

void EncoderSettingsTest::nothingAvailable() {
  EncoderFixture f;
  frmMain* m = f.Start();
  WithDialog(m, [](frmEncoder* d) {
    QCOMPARE(d->windowTitle(), QString("外部エンコーダーの設定"));
    QCOMPARE(d->fraMP3->title(), QString("MP3エンコーダー"));
    QCOMPARE(d->fraWMA->title(), QString("WMAエンコーダー"));
    QCOMPARE(d->optMP3Enc[2]->text(), QString("Fraunhofer IIS MPEG Layer-3 Codec (professional)   [Auto Setting]"));
    QCOMPARE(d->optWMAEnc[0]->text(), QString("WM8EUTIL.EXE 　　( V8 /　64kbps / 44100Hz / Stereo 固定 )"));
    QCOMPARE(d->chkSampleSel->text(), QString("全エンコーダー共通のサンプリングレートのみを表示"));
    QCOMPARE(d->cboBitrate->count(), 9);
    QCOMPARE(d->cboBitrate->itemText(0), QString(" 48 kbps"));
    QCOMPARE(d->cboBitrate->itemData(5).toInt(), 112);
    QCOMPARE(d->cboBitrate->currentText(), QString("128 kbps"));
    for (QRadioButton* o : d->optMP3Enc + d->optWMAEnc) {
      QVERIFY(!o->isEnabled());
      QVERIFY(!o->isChecked());
    }
    QCOMPARE(d->lblScmpx->text(), QString("(なし)"));
    QCOMPARE(d->lblwma8util->text(), QString("(なし)"));
    d->cmdOK->click();
  });
  QCOMPARE(G().EncoderDefault, short(-1));
  QCOMPARE(G().WmaEncoder, short(-1));
  QVERIFY(!m->mnuSetType[1]->isEnabled());
  QVERIFY(!m->mnuSetType[2]->isEnabled());
  QVERIFY(!m->Button("mp3")->isEnabled());
  QVERIFY(!m->Button("wma")->isEnabled());
  QVERIFY(!m->mnuRunSoft[3]->isVisible());
  QCOMPARE(G().StereoMode, QString("Stereo"));
  QCOMPARE(G().Bitrate, 128);
}

void EncoderSettingsTest::locatingScmpxSelectsIt() {
  EncoderFixture f;
  QVERIFY(f.Install("gogo.dll", "app/gogo.dll"));
  QVERIFY(f.Install("tools/scmpx.exe", "app/tools/scmpx.exe"));
  frmMain* m = f.Start();
  QCOMPARE(G().EncoderDefault, short(1));
  std::vector<DialogCall> calls;
  // Cancelling changes nothing.
  Answer(&calls, {});
  WithDialog(m, [](frmEncoder* d) {
    d->cmdSelScmpx->click();
    QVERIFY(!d->optMP3Enc[0]->isEnabled());
    QVERIFY(d->optMP3Enc[1]->isChecked());
    QCOMPARE(d->lblScmpx->text(), QString("(なし)"));
    d->close();
  });
  QCOMPARE(calls.size(), size_t(1));
  QCOMPARE(calls[0].kind, QString("open"));
  QCOMPARE(calls[0].title, QString("SCMPXの指定"));
  QCOMPARE(calls[0].initialDir, f.app);
  const QString scmpx = f.app + "/tools/scmpx.exe";
  Answer(&calls, {scmpx});
  WithDialog(m, [&](frmEncoder* d) {
    QVERIFY(d->optMP3Enc[1]->isChecked());
    d->cmdSelScmpx->click();
    QVERIFY(d->optMP3Enc[0]->isEnabled());
    QVERIFY(d->optMP3Enc[0]->isChecked());
    QVERIFY(!d->optMP3Enc[1]->isChecked());
    QCOMPARE(d->lblScmpx->text(), scmpx);
    d->cmdOK->click();
  });
  QCOMPARE(G().EncoderDefault, short(0));
  QVERIFY(G().EncoderAvailable[0]);
  QCOMPARE(G().ScmpxPath, scmpx);
  QVERIFY(m->mnuRunSoft[2]->isVisible());
  QVERIFY(m->mnuRunSoft[3]->isVisible());
  QVERIFY(m->Button("mp3")->isEnabled());
}

void EncoderSettingsTest::wrongProgramMovesToGogo() {
  EncoderFixture f;
  QVERIFY(f.Install("gogo.dll", "app/gogo.dll"));
  QVERIFY(f.Install("tools/scmpx.exe", "app/tools/scmpx.exe"));
  QVERIFY(f.Install("tools/wm8eutil.exe", "app/tools/other.exe"));
  f.WriteIni(("[Encoder]\nDefault=0\n[Folder]\nScmpx=" + f.app + "/tools/scmpx.exe\n").toUtf8());
  frmMain* m = f.Start();
  QCOMPARE(G().EncoderDefault, short(0));
  std::vector<DialogCall> calls;
  Answer(&calls, {f.app + "/tools/other.exe"});
  WithDialog(m, [](frmEncoder* d) {
    QVERIFY(d->optMP3Enc[0]->isChecked());
    d->cmdSelScmpx->click();
    QCOMPARE(d->lblScmpx->text(), QString("(なし)"));
    QVERIFY(!d->optMP3Enc[0]->isEnabled());
    QVERIFY(d->optMP3Enc[1]->isChecked());
    d->cmdOK->click();
  });
  // The folder of the stored path, without its separator.
  QCOMPARE(calls.at(0).initialDir, f.app + "/tools");
  QCOMPARE(G().EncoderDefault, short(1));
  QVERIFY(!G().EncoderAvailable[0]);
  QCOMPARE(G().ScmpxPath, QString("(なし)"));
  QVERIFY(!m->mnuRunSoft[3]->isVisible());
}

void EncoderSettingsTest::locatingWm8eutil() {
  EncoderFixture f;
  QVERIFY(f.Install("vbwav2wma.dll", "app/vbwav2wma.dll"));
  QVERIFY(f.Install("tools/wm8eutil.exe", "app/tools/wm8eutil.exe"));
  frmMain* m = f.Start();
  QCOMPARE(G().WmaEncoder, short(1));
  std::vector<DialogCall> calls;
  const QString tool = f.app + "/tools/wm8eutil.exe";
  Answer(&calls, {tool});
  WithDialog(m, [&](frmEncoder* d) {
    d->cmdSetWme8util->click();
    QVERIFY(d->optWMAEnc[0]->isChecked());
    QCOMPARE(d->lblwma8util->text(), tool);
    d->cmdOK->click();
  });
  QCOMPARE(calls.at(0).title, QString("WM8UTILの指定"));
  QCOMPARE(G().WmaEncoder, short(0));
  QVERIFY(G().WmaAvailable[0] && G().WmaAvailable[1]);
  QCOMPARE(G().Wm8eutilPath, tool);
  QVERIFY(m->mnuSetType[2]->isEnabled());
  // A wrong name falls back to the library.
  Answer(&calls, {f.app + "/Dorvanti.ini"});
  WithDialog(m, [&](frmEncoder* d) {
    d->cmdSetWme8util->click();
    QVERIFY(d->optWMAEnc[1]->isChecked());
    QVERIFY(!d->optWMAEnc[0]->isEnabled());
    d->cmdOK->click();
  });
  QCOMPARE(G().WmaEncoder, short(1));
  QCOMPARE(G().Wm8eutilPath, QString("(なし)"));
}

void EncoderSettingsTest::unexpectedStereoModeAndRate() {
  EncoderFixture f;
  f.WriteIni("[Encoder]\nStereo=foo\nBitrate=100\nFast=1\n");
  frmMain* m = f.Start();
  const int allFormats = m->cboSample->count();
  WithDialog(m, [](frmEncoder* d) {
    QVERIFY(!d->chkJoint->isChecked());
    QCOMPARE(d->cboBitrate->currentIndex(), -1);
    QVERIFY(d->chkFast->isChecked());
    QVERIFY(!d->chkSampleSel->isChecked());
    d->chkFast->setChecked(false);
    d->chkSampleSel->setChecked(true);
    d->cmdOK->click();
  });
  QCOMPARE(G().StereoMode, QString("Stereo"));
  QCOMPARE(G().Bitrate, 100);  // no rate picked: the stored one stays
  QVERIFY(!G().FastEncode);
  QCOMPARE(G().SelSample, short(1));
  // The format list now offers only the rates every encoder takes.
  QVERIFY(m->cboSample->count() < allFormats);
  for (int i = 0; i < m->cboSample->count(); ++i) {
    const QString t = m->cboSample->itemText(i);
    QVERIFY2(!t.contains("16000") && !t.contains("24000"), qPrintable(t));
  }
  WithDialog(m, [](frmEncoder* d) {
    d->chkJoint->setChecked(true);
    d->cboBitrate->setCurrentIndex(8);
    d->cmdOK->click();
  });
  QCOMPARE(G().StereoMode, QString("Joint Stereo"));
  QCOMPARE(G().Bitrate, 192);
}

void EncoderSettingsTest::closeBoxKeepsSettings() {
  EncoderFixture f;
  QVERIFY(f.Install("gogo.dll", "app/gogo.dll"));
  frmMain* m = f.Start();
  QCOMPARE(G().EncoderDefault, short(1));
  // The menu state follows the settings after any close.
  G().EncoderDefault = -1;
  G().WmaEncoder = -1;
  m->Button("wma")->setEnabled(true);
  m->mnuSetType[2]->setEnabled(true);
  WithDialog(m, [](frmEncoder* d) {
    d->optMP3Enc[1]->setChecked(true);
    d->chkJoint->setChecked(true);
    d->cboBitrate->setCurrentIndex(0);
    d->close();
  });
  QCOMPARE(G().EncoderDefault, short(-1));
  QCOMPARE(G().StereoMode, QString("Stereo"));
  QCOMPARE(G().Bitrate, 128);
  QVERIFY(!m->Button("mp3")->isEnabled());
  QVERIFY(!m->Button("wma")->isEnabled());
  QVERIFY(!m->mnuSetType[2]->isEnabled());
}

QTEST_MAIN(EncoderSettingsTest)
#include "test_encoder_settings.moc"
