// The encoder settings dialog opened through its menu command: what it shows, how locating the
// two programs moves the choice, and what OK and the close box leave behind.
#include <QApplication>
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
  // Locating a program through its button: the file dialog asked, the choice it moves to, the
  // label, and what OK leaves (or, after a cancelled locate, the close box keeps). Both buttons
  // share one locating step: a wrong name is shown once, for WM8EUTIL.
  void locatingPrograms() {
    struct Row {
      const char* name;
      QStringList install;  // built components, placed under the program folder
      QByteArray ini;       // "<app>" stands for the program folder
      bool wma;             // the WM8EUTIL button, else the SCMPX one
      QString answer;       // the file picked (under the program folder), empty: cancelled
      QString asked;        // "title|initial folder"
      QString dialog;       // radios enabled+checked (SCMPX/GoGo or WM8EUTIL/VBWAV2WMA), then the label
      QString after;        // "choice|stored path|available|menu" after OK (or the close box when cancelled)
    };
    const Row rows[] = {
        {"SCMPX cancelled: nothing changes", {"gogo.dll", "tools/scmpx.exe"}, "", false, "", "SCMPXの指定|<app>",
         "00 11|(なし)", "1|(なし)|0|10"},
        {"SCMPX located: chosen", {"gogo.dll", "tools/scmpx.exe"}, "", false, "tools/scmpx.exe", "SCMPXの指定|<app>",
         "11 10|<app>/tools/scmpx.exe", "0|<app>/tools/scmpx.exe|1|11"},
        {"WM8EUTIL located: chosen", {"vbwav2wma.dll", "tools/wm8eutil.exe"}, "", true, "tools/wm8eutil.exe", "WM8UTILの指定|<app>",
         "11 10|<app>/tools/wm8eutil.exe", "0|<app>/tools/wm8eutil.exe|11|1"},
        {"a wrong name for WM8EUTIL: back to the library", {"vbwav2wma.dll", "tools/wm8eutil.exe"},
         "[Encoder]\nWMAEnc=0\n[Folder]\nWm8eutil=<app>/tools/wm8eutil.exe\n", true, "Dorvanti.ini", "WM8UTILの指定|<app>/tools",
         "00 11|(なし)", "1|(なし)|01|1"},
    };
    for (const Row& r : rows) {
      EncoderFixture f;
      auto app = [&f](QString text) { return text.replace("<app>", f.app); };
      for (const QString& c : r.install) QVERIFY2(f.Install(c, "app/" + c), r.name);
      if (!r.ini.isEmpty()) f.writeIni(app(QString::fromUtf8(r.ini)).toUtf8());
      frmMain* m = f.Start();
      QStringList calls;
      Answer(&calls, r.answer.isEmpty() ? QStringList() : QStringList{f.app + "/" + r.answer});
      QString dialog;
      WithDialog(m, [&](frmEncoder* d) {
        (r.wma ? d->cmdSetWme8util : d->cmdSelScmpx)->click();
        const auto& o = r.wma ? d->optWMAEnc : d->optMP3Enc;
        dialog = Flags({o[0]->isEnabled(), o[0]->isChecked()}) + " " + Flags({o[1]->isEnabled(), o[1]->isChecked()}) + "|" +
                 (r.wma ? d->lblwma8util : d->lblScmpx)->text();
        r.answer.isEmpty() ? (void)d->close() : d->cmdOK->click();
      });
      // MP3: the default encoder, SCMPX's path, its availability, the MP3 button and SCMPX's run item.
      // WMA: the WMA encoder, WM8EUTIL's path, both availabilities, the WMA output menu item.
      const QString after =
          r.wma ? QString::number(G().WmaEncoder) + "|" + G().Wm8eutilPath + "|" + Flags({G().WmaAvailable[0], G().WmaAvailable[1]}) +
                      "|" + Flags({m->mnuSetType[2]->isEnabled()})
                : QString::number(G().EncoderDefault) + "|" + G().ScmpxPath + "|" + Flags({G().EncoderAvailable[0]}) + "|" +
                      Flags({m->Button("mp3")->isEnabled(), m->mnuRunSoft[3]->isVisible()});
      QCOMPARE(QString(r.name) + ": " + calls.value(0).section('|', 1), QString(r.name) + ": " + app(r.asked));
      QCOMPARE(QString(r.name) + ": " + dialog, QString(r.name) + ": " + app(r.dialog));
      QCOMPARE(QString(r.name) + ": " + after, QString(r.name) + ": " + app(r.after));
    }
  }
};

QTEST_MAIN(EncoderSettingsTest)
#include "test_encoder_settings.moc"
