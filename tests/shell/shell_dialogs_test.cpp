// The file and folder dialogs as real dialogs on the offscreen platform, and the message boxes' Japanese.
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#include "shell/BFolder.h"
#include "shell/DialogHook.h"
#include "shell/MsgBox.h"
#include "shell/OpenDlg.h"

namespace {

const QChar NUL(0);
const QString kTitle = QString::fromUtf8("MIDIファイルの追加"), kFolderTitle = QString::fromUtf8("保存先フォルダ");
const QString kFilter = QString::fromUtf8("ＭＩＤＩファイル (*.mid;*.rmi)") + NUL + "*.mid;*.rmi";

// Runs check on the modal file dialog once it is open, then closes it if check did not.
void WhenDialogOpens(std::function<void(QFileDialog*)> check) {
  auto attempt = std::make_shared<std::function<void(int)>>();
  *attempt = [check, attempt](int left) {
    if (auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
      check(dlg);
      if (dlg->isVisible()) dlg->reject();  // a failed check returns early: the test cannot hang
    } else if (left > 0) {
      QTimer::singleShot(10, [attempt, left] { (*attempt)(left - 1); });
    }
  };
  QTimer::singleShot(0, [attempt] { (*attempt)(500); });
}

}  // namespace

class ShellDialogsTest : public QObject {
  Q_OBJECT
  QTemporaryDir tmp;
  QString midiDir, savedCwd;

 private slots:
  void initTestCase() {
    midiDir = tmp.filePath("m");
    QVERIFY(QDir().mkpath(midiDir));
    for (const char* name : {"a.mid", "b.mid"}) QVERIFY(QFile(midiDir + "/" + name).open(QIODevice::WriteOnly));
    savedCwd = QDir::currentPath();
  }
  void cleanup() {
    kv::SetDialogHook({});
    QDir::setCurrent(savedCwd);
  }

  void plainAndFolderDialogsAreConfiguredFromTheirArguments() {
    QList<QFileDialog::FileMode> modes;
    WhenDialogOpens([&](QFileDialog* dlg) {
      modes << dlg->fileMode();
      QCOMPARE(dlg->windowTitle(), kTitle);
      QCOMPARE(dlg->directory().absolutePath(), midiDir);
      QCOMPARE(dlg->nameFilters(), kv::FilterToNameFilters(kFilter));
      dlg->selectFile("\"a.mid\" \"b.mid\"");
      static_cast<QDialog*>(dlg)->accept();
    });
    QCOMPARE(OpenFileDialog(nullptr, midiDir, kFilter, kv::kOfnCallerFlags, kTitle), midiDir + NUL + "a.mid" + NUL + "b.mid");
    QCOMPARE(QDir::currentPath(), midiDir);
    // Single selection mode; cancelling gives nothing and leaves the current folder.
    QDir::setCurrent(savedCwd);
    WhenDialogOpens([&](QFileDialog* dlg) { modes << dlg->fileMode(), dlg->reject(); });
    QCOMPARE(OpenFileDialog(nullptr, midiDir, kFilter, kv::kOfnFileMustExist, "t"), QString());
    QCOMPARE(QDir::currentPath(), savedCwd);
    QStringList preselected;
    WhenDialogOpens([&](QFileDialog* dlg) {
      modes << dlg->fileMode();
      preselected = dlg->selectedFiles();
      static_cast<QDialog*>(dlg)->accept();
    });
    QCOMPARE(BrowseForFolder(nullptr, kFolderTitle, midiDir, 0), midiDir);
    QCOMPARE(preselected, QStringList({midiDir}));
    QCOMPARE(BrowseStartFolder, midiDir);
    QCOMPARE(modes, QList({QFileDialog::ExistingFiles, QFileDialog::ExistingFile, QFileDialog::Directory}));
  }

  // A message box shows in Japanese the reasons the media and system layer gives in English.
  void messageBoxesGiveReasonsInJapanese() {
    const QString song = QStringLiteral("a.mid を変換できませんでした。\r\n");
    const QString m = QStringLiteral("/home/user/Music/a.mid"), w = QStringLiteral("/home/user/Music/a.wav");
    const std::pair<QString, QString> rows[] = {
        {song + "File not found: " + m, song + "ファイルが見つかりません: " + m},
        {"Cannot read the file (Permission denied): " + m, "ファイルを読み込めません (アクセスが拒否されました): " + m},
        {"The recording could not be saved (No space left on device): " + w,
         "録音を保存できませんでした (ディスクの空きがありません): " + w},
        {"The recording cannot be written (Permission denied): " + w, "録音を書き込めません (アクセスが拒否されました): " + w},
        {"The SoundFont /s/x.sf2 cannot be loaded: fluid_sfloader_load(): Failed to open '/s/x.sf2'",
         "SoundFont /s/x.sf2 を読み込めません。"},
        {"Error:std::bad_alloc", "Error:メモリーが足りません"},  // the capacity check's exceptions
    };
    for (const auto& [english, japanese] : rows) {
      QString shown;
      QTimer::singleShot(0, [&shown] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
          shown = box->text();
          box->accept();
        }
      });
      kv::MsgBox(english, kv::vbExclamation);
      QCOMPARE(shown, japanese);
    }
  }
};

QTEST_MAIN(ShellDialogsTest)
#include "shell_dialogs_test.moc"
