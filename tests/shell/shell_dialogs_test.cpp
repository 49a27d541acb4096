// The file and folder dialogs (through the dialog hook and as real dialogs on the offscreen
// platform) and the toolbar images.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "shell/BFolder.h"
#include "shell/DialogHook.h"
#include "shell/OpenDlg.h"
#include "shell/ToolbarImages.h"
#include "shell/modCmPOpen.h"

namespace {

const QChar NUL(0);

void Touch(const QString& path, const QByteArray& data = "x") {
  QFile f(path);
  QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
  f.write(data);
}

// Runs check on the modal file dialog once it is open, then closes it if check did not.
void WhenDialogOpens(std::function<void(QFileDialog*)> check) {
  auto attempt = std::make_shared<std::function<void(int)>>();
  *attempt = [check, attempt](int left) {
    auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dlg) {
      check(dlg);
      // A failed check returns early: close the dialog so the test cannot hang.
      if (dlg->isVisible()) dlg->reject();
    } else if (left > 0) {
      QTimer::singleShot(10, [attempt, left] { (*attempt)(left - 1); });
    }
  };
  QTimer::singleShot(0, [attempt] { (*attempt)(500); });
}

struct Call {
  QString kind, title, dir;
};

}  // namespace

class ShellDialogsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir tmp;
  QString midiDir;
  QString savedCwd;

 private slots:
  void initTestCase() {
    QVERIFY(tmp.isValid());
    midiDir = tmp.filePath("m");
    QVERIFY(QDir().mkpath(midiDir));
    // A minimal format-1 header: 3 tracks, 480 ticks per quarter.
    Touch(midiDir + "/a.mid", QByteArray::fromHex("4d546864000000060001000301e0"));
    Touch(midiDir + "/b.mid");
    Touch(midiDir + "/notes.txt");
    savedCwd = QDir::currentPath();
  }
  void cleanup() {
    kv::SetDialogHook({});
    kv::SetPreviewTextProvider({});
    QDir::setCurrent(savedCwd);
  }

  void hookAnswersEachDialog() {
    QList<Call> calls;
    QStringList answer;
    kv::SetDialogHook([&](const QString& kind, const QString& title, const QString& dir) {
      calls.append({kind, title, dir});
      return answer;
    });
    const QString filter = QString::fromUtf8("ＭＩＤＩファイル (*.mid;*.rmi)") + NUL + "*.mid;*.rmi";
    const QString title = QString::fromUtf8("MIDIファイルの追加");
    const QString both = midiDir + NUL + "a.mid" + NUL + "b.mid";

    answer = {midiDir + "/a.mid", midiDir + "/b.mid"};
    QCOMPARE(OpenFileDialog(nullptr, midiDir, filter, kv::kOfnCallerFlags, title), both);
    QCOMPARE(QDir::currentPath(), midiDir);  // a completed dialog moves the current directory
    QCOMPARE(OpenFileDialog(nullptr, midiDir, filter, kv::kOfnFileMustExist, title), midiDir + "/a.mid");
    QCOMPARE(OpenPreviewDialog(nullptr, filter, midiDir), both);
    answer = {tmp.path() + "/"};
    QCOMPARE(BrowseForFolder(nullptr, QString::fromUtf8("保存先フォルダ"), midiDir, 0), tmp.path());
    QCOMPARE(BrowseStartFolder, midiDir);
    answer = {"/"};
    QCOMPARE(BrowseForFolder(nullptr, "t", tmp.path(), 0), QString("/"));

    QCOMPARE(calls.size(), 5);
    QCOMPARE(calls[0].kind, QString("open"));
    QCOMPARE(calls[0].title, title);
    QCOMPARE(calls[0].dir, midiDir);
    QCOMPARE(calls[2].kind, QString("preview"));
    QCOMPARE(calls[2].title, QString::fromUtf8("MIDIﾌｧｲﾙを開く"));
    QCOMPARE(calls[2].dir, midiDir);
    QCOMPARE(calls[3].kind, QString("folder"));
    QCOMPARE(calls[3].title, QString::fromUtf8("保存先フォルダ"));
    QCOMPARE(calls[3].dir, midiDir);

    // Cancel, and a selection too long for the plain dialog: nothing, and the directory stays.
    QDir::setCurrent(savedCwd);
    answer = {};
    QCOMPARE(OpenFileDialog(nullptr, midiDir, filter, kv::kOfnCallerFlags, title), QString());
    QCOMPARE(OpenPreviewDialog(nullptr, filter, midiDir), QString());
    QCOMPARE(BrowseForFolder(nullptr, "t", "/", 0), QString());
    QCOMPARE(BrowseStartFolder, QString("/"));
    answer = {midiDir + "/" + QString(130, 'a') + ".mid", midiDir + "/" + QString(130, 'b') + ".mid"};
    QCOMPARE(OpenFileDialog(nullptr, midiDir, filter, kv::kOfnCallerFlags, title), QString());
    QCOMPARE(QDir::currentPath(), savedCwd);
    QCOMPARE(OpenPreviewDialog(nullptr, filter, midiDir).count(NUL), 2);  // fits the preview's buffer
  }

  void plainDialogIsConfiguredFromItsArguments() {
    const QString filter = QString::fromUtf8("ＭＩＤＩファイル (*.mid;*.rmi)") + NUL + "*.mid;*.rmi";
    bool seen = false;
    WhenDialogOpens([&](QFileDialog* dlg) {
      seen = true;
      QCOMPARE(dlg->windowTitle(), QString::fromUtf8("MIDIファイルの追加"));
      QCOMPARE(dlg->fileMode(), QFileDialog::ExistingFiles);
      QCOMPARE(dlg->directory().absolutePath(), midiDir);
      QCOMPARE(dlg->nameFilters(), kv::FilterToNameFilters(filter));
      dlg->selectFile("\"a.mid\" \"b.mid\"");
      static_cast<QDialog*>(dlg)->accept();
    });
    const QString r = OpenFileDialog(nullptr, midiDir, filter, kv::kOfnCallerFlags, QString::fromUtf8("MIDIファイルの追加"));
    QVERIFY(seen);
    QCOMPARE(r, midiDir + NUL + "a.mid" + NUL + "b.mid");
    QCOMPARE(QDir::currentPath(), midiDir);

    // Single selection mode; cancelling gives nothing.
    seen = false;
    WhenDialogOpens([&](QFileDialog* dlg) {
      seen = true;
      QCOMPARE(dlg->fileMode(), QFileDialog::ExistingFile);
      dlg->reject();
    });
    QCOMPARE(OpenFileDialog(nullptr, midiDir, filter, kv::kOfnFileMustExist, "t"), QString());
    QVERIFY(seen);
  }

  void previewDialogShowsTheFileUnderTheCursor() {
    QString paneText;
    WhenDialogOpens([&](QFileDialog* dlg) {
      QCOMPARE(dlg->windowTitle(), QString::fromUtf8("MIDIﾌｧｲﾙを開く"));
      QCOMPARE(dlg->fileMode(), QFileDialog::ExistingFiles);
      auto* pane = dlg->findChild<QLabel*>("previewPane");
      QVERIFY(pane);
      emit dlg->currentChanged(midiDir + "/a.mid");
      paneText = pane->text();
      dlg->selectFile("a.mid");
      static_cast<QDialog*>(dlg)->accept();
    });
    const QString filter = QString::fromUtf8("MIDIﾌｧｲﾙ(*.MID;*.rmi)") + NUL + "*.mid;*.rmi" + NUL;
    QCOMPARE(OpenPreviewDialog(nullptr, filter, midiDir), midiDir + "/a.mid");
    QCOMPARE(paneText, QString::fromUtf8("a.mid\n14 バイト\nMIDIフォーマット: 1\nトラック数: 3\n分解能: 480"));
    // Without a MIDI header: name and size only.
    QCOMPARE(kv::DefaultPreviewText(midiDir + "/notes.txt"), QString::fromUtf8("notes.txt\n1 バイト"));
    QCOMPARE(kv::DefaultPreviewText(midiDir + "/missing.mid"), QString());

    // The program can supply its own pane text.
    kv::SetPreviewTextProvider([](const QString& p) { return "info:" + QFileInfo(p).fileName(); });
    WhenDialogOpens([&](QFileDialog* dlg) {
      emit dlg->currentChanged(midiDir + "/b.mid");
      paneText = dlg->findChild<QLabel*>("previewPane")->text();
      dlg->reject();
    });
    QCOMPARE(OpenPreviewDialog(nullptr, filter, midiDir), QString());
    QCOMPARE(paneText, QString("info:b.mid"));
  }

  void folderBrowserOpensOnTheStartFolder() {
    QStringList preselected;
    WhenDialogOpens([&](QFileDialog* dlg) {
      QCOMPARE(dlg->windowTitle(), QString::fromUtf8("保存先フォルダ"));
      QCOMPARE(dlg->fileMode(), QFileDialog::Directory);
      preselected = dlg->selectedFiles();
      static_cast<QDialog*>(dlg)->accept();
    });
    QCOMPARE(BrowseForFolder(nullptr, QString::fromUtf8("保存先フォルダ"), midiDir, 0), midiDir);
    QCOMPARE(preselected, QStringList({midiDir}));

    WhenDialogOpens([&](QFileDialog* dlg) { dlg->reject(); });
    QCOMPARE(BrowseForFolder(nullptr, "t", midiDir, 0), QString());
    QCOMPARE(BrowseStartFolder, midiDir);
  }

  void toolbarImagesAre16x16WithTransparentBackground() {
    const QStringList keys = kv::ToolbarImageKeys();
    QCOMPARE(keys, QStringList({"FileOpen", "waveflt", "Play", "Rec", "Stop", "one", "all", "wave", "mp3",
                                "SaveFolder", "Clear", "SndVol", "wma", "RecVol", "Exit", "headcut"}));
    QSet<QByteArray> distinct;
    for (const QString& key : keys) {
      const QImage img = kv::ToolbarImage(key);
      QVERIFY2(!img.isNull(), qPrintable(key));
      QCOMPARE(img.size(), QSize(16, 16));
      QVERIFY2(img.hasAlphaChannel(), qPrintable(key));
      QCOMPARE(qAlpha(img.pixel(0, 0)), 0);  // the corner is background
      int opaque = 0;
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) opaque += qAlpha(img.pixel(x, y)) == 255;
      QVERIFY2(opaque >= 16, qPrintable(key));
      QVERIFY(QFile::exists(":/toolbar/" + key + ".png"));
      const QImage argb = img.convertToFormat(QImage::Format_ARGB32);
      distinct.insert(QByteArray(reinterpret_cast<const char*>(argb.constBits()), argb.sizeInBytes()));
    }
    QCOMPARE(distinct.size(), 16);  // no two buttons look alike
    QVERIFY(kv::ToolbarImage("Record").isNull());
  }
};

QTEST_MAIN(ShellDialogsTest)
#include "shell_dialogs_test.moc"
