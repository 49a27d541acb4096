// The file and folder dialogs as real dialogs on the offscreen platform (what they return is
// shaped below them, in shell_helpers_test), the message boxes' Japanese and the toolbar images.
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#include "shell/BFolder.h"
#include "shell/DialogHook.h"
#include "shell/MsgBox.h"
#include "shell/OpenDlg.h"
#include "shell/ToolbarImages.h"
#include "shell/modCmPOpen.h"

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
    // a.mid: a minimal format-1 header, 3 tracks, 480 ticks per quarter.
    for (auto [name, hex] : {std::pair{"a.mid", "4d546864000000060001000301e0"}, {"b.mid", "78"}, {"notes.txt", "78"}}) {
      QFile f(midiDir + "/" + name);
      QVERIFY(f.open(QIODevice::WriteOnly) && f.write(QByteArray::fromHex(hex)) > 0);
    }
    savedCwd = QDir::currentPath();
  }
  void cleanup() {
    kv::SetDialogHook({});
    kv::SetPreviewTextProvider({});
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
    // A selection too long for the plain dialog's buffer: nothing, and the folder stays too.
    const QString longA = QString(130, 'a') + ".mid", longB = QString(130, 'b') + ".mid";
    for (const QString& n : {longA, longB}) QFile(midiDir + "/" + n).open(QIODevice::WriteOnly);
    WhenDialogOpens([&](QFileDialog* dlg) {
      dlg->selectFile("\"" + longA + "\" \"" + longB + "\"");
      QCOMPARE(dlg->selectedFiles().size(), 2);
      static_cast<QDialog*>(dlg)->accept();
    });
    QCOMPARE(OpenFileDialog(nullptr, midiDir, kFilter, kv::kOfnCallerFlags, kTitle), QString());
    QCOMPARE(QDir::currentPath(), savedCwd);
    // The folder browser opens on the start folder.
    QStringList preselected;
    WhenDialogOpens([&](QFileDialog* dlg) {
      QCOMPARE(dlg->windowTitle(), kFolderTitle);
      modes << dlg->fileMode();
      preselected = dlg->selectedFiles();
      static_cast<QDialog*>(dlg)->accept();
    });
    QCOMPARE(BrowseForFolder(nullptr, kFolderTitle, midiDir, 0), midiDir);
    QCOMPARE(preselected, QStringList({midiDir}));
    WhenDialogOpens([&](QFileDialog* dlg) { dlg->reject(); });
    QCOMPARE(BrowseForFolder(nullptr, "t", midiDir, 0), QString());
    QCOMPARE(BrowseStartFolder, midiDir);
    QCOMPARE(modes, QList({QFileDialog::ExistingFiles, QFileDialog::ExistingFile, QFileDialog::Directory}));
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

  // A message box shows in Japanese the reasons the media and system layer gives in English.
  void messageBoxesGiveReasonsInJapanese() {
    const QString song = QStringLiteral("a.mid を変換できませんでした。\r\n");
    const QString m = QStringLiteral("/home/user/Music/a.mid"), w = QStringLiteral("/home/user/Music/a.wav");
    const std::pair<QString, QString> rows[] = {
        {song + "File not found: " + m, song + "ファイルが見つかりません: " + m},
        {"Cannot read the file (Permission denied): " + m, "ファイルを読み込めません (アクセスが拒否されました): " + m},
        {"Not a MIDI file (no MIDI header (MThd)): " + m, "MIDI ファイルではありません (MIDI ヘッダー (MThd) がありません): " + m},
        {"Not a MIDI file (MIDI header cut off): " + m, "MIDI ファイルではありません (MIDI ヘッダーが途中で切れています): " + m},
        {"Not a MIDI file (cannot open " + m + "): " + m, "MIDI ファイルではありません (" + m + " を開けません): " + m},
        {"Not a WAVE file: " + w, "WAVE ファイルではありません: " + w},
        {"The recording device hw:1,0 cannot be opened.", "録音デバイス hw:1,0 を開けません。"},
        {"The recording device hw:1,0 does not record in this format.", "録音デバイス hw:1,0 はこの形式で録音できません。"},
        {"The recorder cannot record this WAVE format.", "この WAVE 形式では録音できません。"},
        {"Cannot write beside " + w, w + " を書き込めません。"},
        {"The recording could not be saved to " + w, "録音を " + w + " に保存できませんでした。"},
        {"The file /s/x.sf2 is not a SoundFont.", "/s/x.sf2 は SoundFont ではありません。"},
        {"The SoundFont /s/x.sf2 cannot be loaded: fluid_sfloader_load(): Failed to open '/s/x.sf2'",
         "SoundFont /s/x.sf2 を読み込めません。"},
        {"The SoundFont /s/x.sf2 cannot be loaded.", "SoundFont /s/x.sf2 を読み込めません。"},
        {"FluidSynth could not be started.", "ソフトウェアシンセサイザー (FluidSynth) を起動できませんでした。"},
        {"The ALSA sequencer is not available.", "ALSA シーケンサーを使えません。"},
        {"The MIDI port Synth A cannot be opened.", "MIDI ポート Synth A を開けません。"},
        {"SoundFont not found (/usr/share/sounds/sf2/default-GM.sf2). Install the Debian package fluid-soundfont-gm "
         "(or timgm6mb-soundfont), or choose a SoundFont in sndvol32.exe /R.",
         "SoundFont が見つかりません (/usr/share/sounds/sf2/default-GM.sf2)。Debian パッケージ fluid-soundfont-gm "
         "(または timgm6mb-soundfont) をインストールするか、sndvol32.exe /R で SoundFont を選んでください。"},
        {"Cannot read the file (Input/output error): " + m, "ファイルを読み込めません (入出力エラー): " + m},
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

  void toolbarImagesAre16x16WithTransparentBackground() {
    const QStringList keys = kv::ToolbarImageKeys();
    QCOMPARE(keys.size(), 16);
    QSet<QByteArray> distinct;
    for (const QString& key : keys) {
      const QImage img = kv::ToolbarImage(key).convertToFormat(QImage::Format_ARGB32);
      QVERIFY2(kv::ToolbarImage(key).hasAlphaChannel() && QFile::exists(":/toolbar/" + key + ".png"), qPrintable(key));
      QCOMPARE(img.size(), QSize(16, 16));
      QCOMPARE(qAlpha(img.pixel(0, 0)), 0);  // the corner is background
      int opaque = 0;
      for (int i = 0; i < 256; ++i) opaque += qAlpha(img.pixel(i % 16, i / 16)) == 255;
      QVERIFY2(opaque >= 16, qPrintable(key));
      distinct.insert(QByteArray(reinterpret_cast<const char*>(img.constBits()), img.sizeInBytes()));
    }
    QCOMPARE(distinct.size(), 16);  // no two buttons look alike
    QVERIFY(kv::ToolbarImage("Record").isNull());
  }
};

QTEST_MAIN(ShellDialogsTest)
#include "shell_dialogs_test.moc"
