// The main window on the offscreen platform: only what the window itself holds (the sequence: tests/engine).
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QUrl>
#include <QtTest>
#include <functional>

#include "AppFixture.h"
#include "MidiFiles.h"
#include "app/Globals.h"
#include "shell/DialogHook.h"
#include "shell/FileName.h"

using kv::G;

namespace {
const QString kCorpus = QStringLiteral(KV_SOURCE_DIR "/tests/data/midi/jazz-soft-test-midi-files/");
const QString kScale = kCorpus + "test-c-major-scale.mid";  // 4.0 s, title "C Major Scale Test"
const QString kChords = kCorpus + "test-multichannel-chords-0.mid";

void Touch(const QString& path, bool executable = false, const std::string& content = {}) {
  QDir().mkpath(QFileInfo(path).path());
  kvtest::writeText(path.toStdString(), content, executable);
}

// Dialogs answer `files`; the title and starting folder of the last one are kept.
QString g_asked;
void Answer(const QStringList& files) {
  kv::SetDialogHook([=](const QString&, const QString& t, const QString& d) {
    g_asked = t + "|" + d;
    return files;
  });
}

// The window's switches by name; a row lists the ones it expects on, "!name" for off.
QMap<QString, bool> Flags(frmMain* f) {
  QMap<QString, bool> m;
  for (const char* key : {"wave", "mp3", "wma", "one", "all", "waveflt", "headcut"}) {
    m[key] = f->ButtonPressed(key);
    m[QString(key) + "-enabled"] = f->Button(key)->isEnabled();
    m[QString(key) + "-shown"] = f->Button(key)->isVisible();
  }
  for (int i = 0; i < 3; ++i) {
    m[QString("type%1").arg(i)] = f->mnuSetType[i]->isChecked();
    m[QString("type%1-enabled").arg(i)] = f->mnuSetType[i]->isEnabled();
  }
  m["play-all"] = f->mnuSetPlay[1]->isChecked();
  m["scmpx-item"] = f->mnuRunSoft[3]->isVisible();
  m["normal-item"] = f->mnuNormalEnable[1]->isVisible();
  m["normal-on"] = f->mnuNormalEnable[1]->isChecked();
  m["cut-menu"] = f->mnuSetCut->menuAction()->isEnabled();
  m["cut-ok"] = f->mnuSetCutOK[0]->isChecked();
  m["cut-ng"] = f->mnuSetCutOK[1]->isChecked();
  m["rec"] = f->Button("Rec")->isEnabled();
  m["stop"] = f->Button("Stop")->isEnabled();
  m["menu-stop"] = f->mnuExecStop->isEnabled();
  m["menu-play"] = f->mnuExecPlay->isEnabled();
  m["menus"] = f->mnuFile->menuAction()->isEnabled() && f->mnuSet->menuAction()->isEnabled();
  m["controls"] = f->cboSample->isEnabled() && f->cboDevice->isEnabled() && f->chkTitleToFilename->isEnabled();
  m["title-name"] = f->chkTitleToFilename->isChecked();
  m["wait"] = f->mnuSetWait->isChecked();
  return m;
}
void Expect(const QString& row, frmMain* f, const QString& tokens) {
  const QMap<QString, bool> flags = Flags(f);
  for (QString t : tokens.split(' ', Qt::SkipEmptyParts)) {
    const bool on = !t.startsWith('!');
    if (!on) t.remove(0, 1);
    QVERIFY2(flags.contains(t), qPrintable(row + ": no switch " + t));
    QVERIFY2(flags[t] == on, qPrintable(row + ": " + (on ? "" : "!") + t));
  }
}
}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() { kv::SetDialogHook({}); }

  void startUpShowsTheStoredChoices() {
    struct Row {
      const char* name;
      QByteArray ini;         // "%root" stands for the scratch root
      QStringList installed;  // files under the root (".exe": executable)
      const char* expect;
    };
    const Row rows[] = {
        {"first run", "", {},
         "wave type0 !type1 one !play-all !mp3-enabled !wma-enabled !type2-enabled !waveflt-shown !normal-item "
         "cut-ok !cut-menu !stop !menu-stop wait !title-name"},
        {"wm8eutil alone", "[Folder]\nWm8eutil=%root/wm8eutil.exe\n", {"wm8eutil.exe"},
         "!scmpx-item !mp3-enabled !type1-enabled wma-enabled type2-enabled"},
        {"ACM installed", "", {"system/L3CODECP.ACM", "app/vbmp3.dll"}, "mp3-enabled type1-enabled"},
        {"stored WMA, not installed", "[OnKey]\nMedia=wma\nPlay=all\n", {}, "!wma-enabled wma type2 !type0 all play-all"},
    };
    for (const Row& r : rows) {
      AppFixture fx;
      for (const QString& file : r.installed) Touch(fx.root->filePath(file), file.endsWith(".exe"));
      fx.writeIni(QByteArray(r.ini).replace("%root", fx.root->path().toUtf8()));
      if (r.ini.isEmpty()) QFile::remove(fx.ini());
      Expect(r.name, fx.start(), r.expect);
    }
    // The first run's window: at the screen's corner, the program's folder as output folder.
    AppFixture fx;
    frmMain* f = fx.start();
    QCOMPARE(f->frameGeometry().topLeft(), f->screen()->geometry().topLeft());
    QCOMPARE(G().WavePath + "|" + f->lblWaveFileName->text() + "|" + QDir::currentPath(), fx.app + "|" + fx.app + "/|" + fx.app);
  }

  void settingsComeBackAsStored() {
    AppFixture fx;
    const QString out = fx.root->path() + "/出力 フォルダ", flt = fx.root->path() + "/tools/waveflt.exe";
    QVERIFY(QDir().mkpath(out));
    Touch(flt, true);
    const QByteArray text =
        "; Korvessa settings\n[OnKey]\nMedia=wave\nPlay=all\n[Position]\nLeft=1500\nTop=900\nWidth=9000\nHeight=6000\n"
        "[Folder]\nWavePath=" + out.toUtf8() + "\nMidiPath=" + fx.root->path().toUtf8() +
        "\nScmpx=(なし)\nWm8eutil=(なし)\nWaveflt=" + flt.toUtf8() +
        "\n[Option]\nTitleToName=1\nDefSample=20\nDefDevice=0\nSelSample=0\nWait=1\nUnknownKey=kept\n"
        "[Encoder]\nEnable0=0\nEnable1=0\nEnable2=0\nDefault=1\nBitrate=192\nStereo=Joint Stereo\nWMAEnc=-1\nFast=1\n"
        "[Normalize]\nEnable=1\nheadcut=NG\n[Wait]\nCount=15\n";
    fx.writeIni(text);
    frmMain* f = fx.start();  // its place and size: DesktopTest::restartsKeepTheStoredPlace
    QCOMPARE(f->cboSample->currentIndex(), 20);
    Expect("stored session", f, "all waveflt headcut-shown cut-menu !headcut cut-ng title-name wait");
    // Maximised at the end, the window keeps the place and size it had before.
    f->showMaximized();
    QTest::qWait(50);
    f->close();
    QCoreApplication::processEvents();
    // Every value comes back as it was, in place; the unknown key and the comment stay.
    QCOMPARE(QByteArray::fromStdString(kvtest::readBytes(fx.ini().toStdString())), text);
  }

  void layoutFollowsTheSize() {
    AppFixture fx;
    frmMain* f = fx.start();
    const auto before = std::make_tuple(f->twToolbar, f->twList, f->twWaveName, f->twDevice, f->twSample, f->twYa, f->twChk);
    f->resize(f->width() + 1000 / 15, f->height() + 500 / 15);
    QTest::qWait(20);
    const auto& [tb, ls, wn, dv, sm, ya, ck] = before;
    // Wider: the toolbar, the list, the label and the device box grow; nothing moves sideways.
    for (int grown : {f->twToolbar.Width - tb.Width, f->twList.Width - ls.Width, f->twWaveName.Width - wn.Width,
                      f->twDevice.Width - dv.Width})
      QCOMPARE(grown, 990);
    QCOMPARE(QPoint(f->twDevice.Left, f->twChk.Left), QPoint(dv.Left, ck.Left));
    // Taller: the lower controls move down and the list grows by as much.
    for (int moved : {f->twSample.Top - sm.Top, f->twDevice.Top - dv.Top, f->twWaveName.Top - wn.Top, f->twYa.Top - ya.Top,
                      f->twChk.Top - ck.Top, f->twList.Height - ls.Height})
      QCOMPARE(moved, 495);
    // Stored partly off the screen: pulled back onto it.
    AppFixture fx2;
    const QRect sg = QGuiApplication::primaryScreen()->geometry();
    fx2.writeIni(QStringLiteral("[Position]\nLeft=%1\nTop=%2\nWidth=9000\nHeight=6000\n")
                     .arg(sg.width() * 15 - 3000).arg(sg.height() * 15 - 1500).toUtf8());
    QCOMPARE(fx2.start()->frameGeometry().bottomRight(), sg.bottomRight());
  }

  void sourceListCommands() {
    AppFixture fx;
    frmMain* f = fx.start();
    // The add dialog: its title and folder; the entries, the selection and what it shows.
    Answer({kScale, kChords});
    f->Toolbar1_ButtonClick(f->Button("FileOpen"));
    QCOMPARE(g_asked, QStringLiteral("MIDIファイルの追加|") + fx.app);
    QCOMPARE(f->Sources->Entries(), QStringList({kScale, kChords}));
    QCOMPARE(f->lstSource->currentRow(), 1);
    QCOMPARE(G().MidiPath + "/", kCorpus);
    QCOMPARE(f->Panel("status")->text() + "|" + f->Panel("Title")->text() + "|" + f->lblWaveFileName->text(),
             "Ready(00:04)|Multi-channel chords Test 0|" + fx.app + "/test-multichannel-chords-0.wav");
    // A file without a header: the status says so.
    const QString cut = fx.root->filePath("cut.mid");
    Touch(cut, false, "not a MIDI file");
    f->AddSourceFiles({cut});
    QCOMPARE(f->Panel("status")->text(), QStringLiteral("MIDIファイルを読み込めません"));
    // The title box names the output after the song's title, and back.
    f->lstSource->setCurrentRow(0);
    f->chkTitleToFilename->click();
    QCOMPARE(f->lblWaveFileName->text(), fx.app + "/C Major Scale Test.wav");
    f->chkTitleToFilename->click();
    QCOMPARE(f->lblWaveFileName->text(), fx.app + "/test-c-major-scale.wav");
    // The folder browser opens on the program's folder; the root is kept without its separator.
    Answer({"/"});
    f->Toolbar1_ButtonClick(f->Button("SaveFolder"));
    QCOMPARE(g_asked, QStringLiteral("保存先フォルダ|") + fx.app);
    QCOMPARE(G().WavePath + "|" + f->lblWaveFileName->text() + "|" + QDir::currentPath(), "|/test-c-major-scale.wav|/");
    f->Toolbar1_ButtonClick(f->Button("Clear"));
    QCOMPARE(f->lstSource->count(), 0);
    QCOMPARE(f->lblWaveFileName->text(), "/");
  }

  void dropsAcceptOnlyMidiFiles() {
    AppFixture fx;
    frmMain* f = fx.start();
    QMimeData ok, mixed, text;
    // The last one is a Shift-JIS name, which is not UTF-8: its bytes must reach the list.
    ok.setUrls({QUrl::fromLocalFile("/m/a.MID"), QUrl::fromLocalFile("/m/b.Rmi"), QUrl::fromEncoded("file:///m/%8B%C8A.mid")});
    mixed.setUrls({QUrl::fromLocalFile("/m/a.mid"), QUrl::fromLocalFile("/m/b.txt")});
    text.setText("/m/a.mid");
    for (auto [name, data, accepted] : {std::tuple{"mixed", &mixed, 0}, {"text", &text, 0}, {"MIDI files", &ok, 3}}) {
      int effect = 1;
      f->lstSource_OLEDragOver(data, effect);
      f->lstSource_OLEDragDrop(data, effect);
      QCOMPARE(QString(name) + ": " + QString::number(f->lstSource->count()), QString(name) + ": " + QString::number(accepted));
    }
    QCOMPARE(kv::PathBytes(f->Sources->Entry(2)), QByteArray("/m/\x8b\xc8\x41.mid"));
  }

  void normaliserProgramAndButtons() {
    AppFixture fx;
    frmMain* f = fx.start();
    Answer({});
    f->mnuNormal_Click();  // cancelled: nothing changes
    QCOMPARE(g_asked, QStringLiteral("wavefltの指定|") + fx.app);
    Expect("cancelled", f, "!waveflt-shown");
    // The tool is taken; the next dialog opens on its folder.
    const QString tool = fx.root->filePath("tools/WAVEFLT.EXE");
    Touch(tool, true);
    Answer({tool});
    f->mnuNormal_Click();
    QCOMPARE(G().WavefltPath, tool);
    f->mnuNormal_Click();
    QVERIFY(g_asked.endsWith("|" + fx.root->filePath("tools")));
    // The buttons follow the menus and the menus the buttons.
    const std::pair<std::function<void()>, const char*> steps[] = {
        {[f] { f->mnuNormalEnable_Click(1); }, "waveflt headcut-shown cut-menu headcut !cut-ng"},
        {[f] { f->mnuSetCutOK_Click(1); }, "waveflt headcut-shown cut-menu !headcut cut-ng"},
        {[f] { f->Button("waveflt")->trigger(); }, "!waveflt !normal-on !headcut-shown !cut-menu !headcut cut-ng"},
        {[f] { f->Button("waveflt")->trigger(); }, "waveflt headcut-shown cut-menu !headcut cut-ng"},
        {[f] { f->Button("headcut")->trigger(); }, "headcut cut-ok"},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
      steps[i].first();
      Expect(QStringLiteral("step %1").arg(i), f, steps[i].second);
    }
  }

  void delayAnswers() {
    AppFixture fx;
    frmMain* f = fx.start();
    // Answer, then the count, the menu's check and its text (empty is a cancel; the 16-bit count is
    // clamped; tenths round down in single precision; "nan" and "inf" are no numbers).
    for (auto [answer, count, on, text] :
         {std::tuple{"-2", 20, true, "2"}, {"1.25", 12, true, "1.25"}, {"abc", 0, false, "0"}, {"", 0, false, "0"},
          {"5000", 32767, true, ""}, {"nan", 0, false, "0"}, {"0.19999", 1, true, "0.19999"}, {"inf", 0, false, "0"}}) {
      f->ApplyWaitAnswer(answer);
      const QString row = QStringLiteral("answer %1: ").arg(answer);
      QCOMPARE(row + QString::number(G().WaitCount), row + QString::number(count));
      QCOMPARE(row + QString::number(f->mnuSetWait->isChecked()), row + QString::number(on));
      if (*text) QCOMPARE(row + f->mnuSetWait->text(), row + QStringLiteral("録再遅延(前後%1秒)").arg(text));
    }
    // The menu asks in an input box.
    QTimer::singleShot(0, f, [] {
      auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
      if (!box) return;
      box->setTextValue("0.7");
      box->accept();
    });
    f->mnuSetWait_Click();
    QCOMPARE(G().WaitCount, short(7));
  }

  // While a run goes on the window is locked; the normaliser's buttons only during playback.
  void lockStateAndKeys() {
    AppFixture fx;
    fx.writeIni(("[Folder]\nWaveflt=" + fx.root->filePath("waveflt.exe") + "\n[Normalize]\nEnable=1\n").toUtf8());
    Touch(fx.root->filePath("waveflt.exe"), true);
    fx.setSystem(false);
    frmMain* f = fx.start();
    int code = 27, shift = 0;
    f->Form_KeyDown(code, shift);
    QCOMPARE(code, 27);  // nothing runs: Esc passes on
    f->AddSourceFiles({kScale, kChords});
    f->lstSource->setCurrentRow(0);
    f->mnuSetPlay_Click(1);
    G().WavePath = fx.root->path();
    for (const auto& [name, button, status] : {std::tuple{"playing", "Play", "Play "}, {"converting", "Rec", "REC. "}}) {
      f->Toolbar1_ButtonClick(f->Button(button));
      QTRY_VERIFY2_WITH_TIMEOUT(f->Panel("status")->text().startsWith(status), name, 5000);
      Expect(name, f, "!rec stop menu-stop !menu-play !menus !controls all all-enabled wave-enabled !one-enabled");
      Expect(name, f, QString(name) == "playing" ? "waveflt-enabled" : "!waveflt-enabled");
      // Esc is Stop: the run ends after its item, with the last entry selected.
      code = 27;
      f->Form_KeyDown(code, shift);
      QCOMPARE(QString(name) + " " + QString::number(code), QString(name) + " 0");
      QVERIFY2(fx.waitIdle(10000), name);
      QCOMPARE(f->lstSource->currentRow(), 1);
      Expect(QString(name) + ", after", f, "rec !stop !menu-stop menu-play menus controls");
      f->lstSource->setCurrentRow(0);
    }
    // The conversion ran the normaliser as its menus stood (this filter writes nothing).
    QVERIFY2(f->Engine()->WaveFilterCommandLine().contains(" -autoofs -headcut 1 -normal 0.9 "),
             qPrintable(f->Engine()->WaveFilterCommandLine()));
    QCOMPARE(fx.messages.size(), size_t(1));
    QCOMPARE(fx.messages[0].text, QStringLiteral("ノーマライズでエラーが発生しました。"));
    // Delete removes the selected entry.
    f->lstSource->setCurrentRow(0);
    code = 46;
    f->Form_KeyDown(code, shift);
    QCOMPARE(code, 0);
    QCOMPARE(f->Sources->Entries(), QStringList({kChords}));
    QCOMPARE(f->lblWaveFileName->text(), QString());
  }

  // An RMID carrying a DLS bank plays with the configured SoundFont, and the window says why.
  void songBankThatCannotBeReadIsNamed() {
    AppFixture fx;
    frmMain* f = fx.start();
    const QString dls = fx.root->filePath("bank.rmi");
    kvtest::writeText(dls.toStdString(), smf::Rmid(smf::Notes(2), smf::RiffChunk("RIFF", "DLS " + std::string(64, '\0'))));
    f->AddSourceFiles({dls});
    f->lstSource->setCurrentRow(0);
    f->Toolbar1_ButtonClick(f->Button("Play"));
    QVERIFY(fx.waitIdle(20000));
    QTRY_COMPARE_WITH_TIMEOUT(fx.messages.size(), size_t(1), 5000);
    QCOMPARE(fx.messages[0].text, dls + " の DLS 音色バンクは FluidSynth では読めません。ほかの SoundFont で演奏します。");
  }
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
