// The encoder settings dialog opened through its menu command: what it shows, how locating the
// two programs moves the choice, and what OK and the close box leave behind.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
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
// Opens the dialog through the menu command and lets act work on it; act must close it.
template <class Act>
void WithDialog(frmMain* m, Act act) {
  bool seen = false;
  QTimer::singleShot(0, m, [&] {
    auto* d = qobject_cast<frmEncoder*>(QApplication::activeModalWidget());
    if ((seen = d != nullptr)) act(d);
  });
  m->mnuSetEncoder_Click();
  QVERIFY(seen);
}

// File dialogs answer `files`; each call is logged as "kind|title|initial folder".
void Answer(QStringList* calls, const QStringList& files) {
  kv::SetDialogHook([calls, files](const QString& kind, const QString& title, const QString& dir) {
    *calls << kind + "|" + title + "|" + dir;
    return files;
  });
}

// A row of flags as "1"/"0", to compare a group of states at once.
QString Flags(std::initializer_list<bool> flags) {
  QString s;
  for (bool b : flags) s += b ? '1' : '0';
  return s;
}
}  // namespace

class EncoderSettingsTest : public QObject {
  Q_OBJECT
 private slots:
  void nothingAvailable() {
    EncoderFixture f;
    frmMain* m = f.Start();
    WithDialog(m, [](frmEncoder* d) {
      // The bit-rate list holds the values, with 128 kbps chosen; nothing can be chosen.
      QCOMPARE(d->cboBitrate->count(), 9);
      QCOMPARE(d->cboBitrate->itemData(5).toInt(), 112);
      QCOMPARE(d->cboBitrate->currentText(), QString("128 kbps"));
      for (QRadioButton* o : d->optMP3Enc + d->optWMAEnc) QCOMPARE(Flags({o->isEnabled(), o->isChecked()}), QString("00"));
      QCOMPARE(d->lblScmpx->text() + d->lblwma8util->text(), QString("(なし)(なし)"));
      d->cmdOK->click();
    });
    QCOMPARE(G().EncoderDefault, short(-1));
    QCOMPARE(G().WmaEncoder, short(-1));
    // MP3 and WMA menu items and buttons, the SCMPX run item: all off.
    QCOMPARE(Flags({m->mnuSetType[1]->isEnabled(), m->mnuSetType[2]->isEnabled(), m->Button("mp3")->isEnabled(),
                    m->Button("wma")->isEnabled(), m->mnuRunSoft[3]->isVisible()}), QString("00000"));
  }

  void locatingScmpxSelectsIt() {
    EncoderFixture f;
    QVERIFY(f.Install("gogo.dll", "app/gogo.dll"));
    QVERIFY(f.Install("tools/scmpx.exe", "app/tools/scmpx.exe"));
    frmMain* m = f.Start();
    QCOMPARE(G().EncoderDefault, short(1));
    QStringList calls;
    Answer(&calls, {});  // cancelling changes nothing
    WithDialog(m, [](frmEncoder* d) {
      d->cmdSelScmpx->click();
      QCOMPARE(Flags({d->optMP3Enc[0]->isEnabled(), d->optMP3Enc[1]->isChecked()}), QString("01"));
      QCOMPARE(d->lblScmpx->text(), QString("(なし)"));
      d->close();
    });
    QCOMPARE(calls, QStringList("open|SCMPXの指定|" + f.app));
    const QString scmpx = f.app + "/tools/scmpx.exe";
    Answer(&calls, {scmpx});
    WithDialog(m, [&](frmEncoder* d) {
      QVERIFY(d->optMP3Enc[1]->isChecked());
      d->cmdSelScmpx->click();
      QCOMPARE(Flags({d->optMP3Enc[0]->isEnabled(), d->optMP3Enc[0]->isChecked(), d->optMP3Enc[1]->isChecked()}), QString("110"));
      QCOMPARE(d->lblScmpx->text(), scmpx);
      d->cmdOK->click();
    });
    QCOMPARE(G().EncoderDefault, short(0));
    QCOMPARE(G().ScmpxPath, scmpx);
    QCOMPARE(Flags({G().EncoderAvailable[0], m->mnuRunSoft[2]->isVisible(), m->mnuRunSoft[3]->isVisible(),
                    m->Button("mp3")->isEnabled()}), QString("1111"));
  }

  void wrongProgramMovesToGogo() {
    EncoderFixture f;
    QVERIFY(f.Install("gogo.dll", "app/gogo.dll"));
    QVERIFY(f.Install("tools/scmpx.exe", "app/tools/scmpx.exe"));
    QVERIFY(f.Install("tools/wm8eutil.exe", "app/tools/other.exe"));
    f.writeIni(("[Encoder]\nDefault=0\n[Folder]\nScmpx=" + f.app + "/tools/scmpx.exe\n").toUtf8());
    frmMain* m = f.Start();
    QCOMPARE(G().EncoderDefault, short(0));
    QStringList calls;
    Answer(&calls, {f.app + "/tools/other.exe"});
    WithDialog(m, [](frmEncoder* d) {
      QVERIFY(d->optMP3Enc[0]->isChecked());
      d->cmdSelScmpx->click();
      QCOMPARE(d->lblScmpx->text(), QString("(なし)"));
      QCOMPARE(Flags({d->optMP3Enc[0]->isEnabled(), d->optMP3Enc[1]->isChecked()}), QString("01"));
      d->cmdOK->click();
    });
    QCOMPARE(calls.value(0).section('|', 2), f.app + "/tools");  // the folder of the stored path, without its separator
    QCOMPARE(G().EncoderDefault, short(1));
    QCOMPARE(G().ScmpxPath, QString("(なし)"));
    QCOMPARE(Flags({G().EncoderAvailable[0], m->mnuRunSoft[3]->isVisible()}), QString("00"));
  }

  void locatingWm8eutil() {
    EncoderFixture f;
    QVERIFY(f.Install("vbwav2wma.dll", "app/vbwav2wma.dll"));
    QVERIFY(f.Install("tools/wm8eutil.exe", "app/tools/wm8eutil.exe"));
    frmMain* m = f.Start();
    QCOMPARE(G().WmaEncoder, short(1));
    QStringList calls;
    const QString tool = f.app + "/tools/wm8eutil.exe";
    Answer(&calls, {tool});
    WithDialog(m, [&](frmEncoder* d) {
      d->cmdSetWme8util->click();
      QVERIFY(d->optWMAEnc[0]->isChecked());
      QCOMPARE(d->lblwma8util->text(), tool);
      d->cmdOK->click();
    });
    QCOMPARE(calls.value(0).section('|', 1, 1), QString("WM8UTILの指定"));
    QCOMPARE(G().WmaEncoder, short(0));
    QCOMPARE(G().Wm8eutilPath, tool);
    QCOMPARE(Flags({G().WmaAvailable[0], G().WmaAvailable[1], m->mnuSetType[2]->isEnabled()}), QString("111"));
    // A wrong name falls back to the library.
    Answer(&calls, {f.app + "/Dorvanti.ini"});
    WithDialog(m, [&](frmEncoder* d) {
      d->cmdSetWme8util->click();
      QCOMPARE(Flags({d->optWMAEnc[1]->isChecked(), d->optWMAEnc[0]->isEnabled()}), QString("10"));
      d->cmdOK->click();
    });
    QCOMPARE(G().WmaEncoder, short(1));
    QCOMPARE(G().Wm8eutilPath, QString("(なし)"));
  }

  void unexpectedStereoModeAndRate() {
    EncoderFixture f;
    f.writeIni("[Encoder]\nStereo=foo\nBitrate=100\nFast=1\n");
    frmMain* m = f.Start();
    const int allFormats = m->cboSample->count();
    WithDialog(m, [](frmEncoder* d) {
      QCOMPARE(d->cboBitrate->currentIndex(), -1);
      QCOMPARE(Flags({d->chkJoint->isChecked(), d->chkFast->isChecked(), d->chkSampleSel->isChecked()}), QString("010"));
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
    for (int i = 0; i < m->cboSample->count(); ++i)
      QVERIFY2(!m->cboSample->itemText(i).contains(QRegularExpression("16000|24000")), qPrintable(m->cboSample->itemText(i)));
    WithDialog(m, [](frmEncoder* d) {
      d->chkJoint->setChecked(true);
      d->cboBitrate->setCurrentIndex(8);
      d->cmdOK->click();
    });
    QCOMPARE(G().StereoMode, QString("Joint Stereo"));
    QCOMPARE(G().Bitrate, 192);
  }

  void closeBoxKeepsSettings() {
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
    QCOMPARE(Flags({m->Button("mp3")->isEnabled(), m->Button("wma")->isEnabled(), m->mnuSetType[2]->isEnabled()}), QString("000"));
  }
};

QTEST_MAIN(EncoderSettingsTest)
#include "test_encoder_settings.moc"
