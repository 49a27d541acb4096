// The main window on the offscreen platform: start-up, shut-down, layout, keys and the
// commands that keep the window's state.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QInputDialog>
#include <QPushButton>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QtTest>

#include "AppFixture.h"
#include "app/Globals.h"

using kv::G;

namespace {
void Touch(const QString& path, bool executable = false, const QByteArray& content = {}) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
  f.close();
  if (executable) f.setPermissions(f.permissions() | QFile::ExeOwner | QFile::ExeUser);
}
}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void firstRunUsesDefaults() {
    AppFixture fx;
    frmMain* f = fx.start();
    QCOMPARE(f->windowTitle(), QStringLiteral("Korvessa  Ver.") + frmMain::VersionText());
    QCOMPARE(f->frameGeometry().topLeft(), f->screen()->geometry().topLeft());
    QCOMPARE(f->client->width(), kv::TwipsToPx(frmMain::kDesignClientWidth));
    QCOMPARE(f->client->height(), kv::TwipsToPx(frmMain::kDesignClientHeight));
    // Normaliser: no program known, off, cutting on but its submenu disabled.
    const bool states[] = {f->ButtonPressed("wave"), f->mnuSetType[0]->isChecked(), !f->mnuSetType[1]->isChecked(),
                           f->ButtonPressed("one"), f->mnuSetPlay[0]->isChecked(), !f->Button("mp3")->isEnabled(),
                           !f->Button("wma")->isEnabled(), !f->mnuSetType[2]->isEnabled(), !f->Button("waveflt")->isVisible(),
                           !f->mnuNormalEnable[1]->isVisible(), f->mnuNormalEnable[2]->isChecked(),
                           f->mnuSetCutOK[0]->isChecked(), !f->mnuSetCut->menuAction()->isEnabled(),
                           !f->Button("Stop")->isEnabled(), !f->mnuExecStop->isEnabled()};
    for (int i = 0; i < 15; ++i) QVERIFY2(states[i], qPrintable(QString::number(i)));
    QCOMPARE(G().WavePath, fx.app);
    QCOMPARE(f->lblWaveFileName->text(), fx.app + "/");
    QCOMPARE(QDir::currentPath(), fx.app);
    QCOMPARE(f->mnuSetWait->text(), QStringLiteral("録再遅延(前後0秒)"));
    QVERIFY(f->mnuSetWait->isChecked());  // "Option"/"Wait" defaults to on
  }

  void settingsRoundTripKeepsEveryValue() {
    AppFixture fx;
    const QString out = fx.root->path() + "/出力 フォルダ", midi = fx.root->path() + "/midi files";
    const QString flt = fx.root->path() + "/tools/waveflt.exe";
    for (const QString& d : {out, midi, fx.root->path() + "/tools"}) QVERIFY(QDir().mkpath(d));
    Touch(flt, true);
    const QByteArray text =
        "; Korvessa settings\n"
        "[OnKey]\nMedia=wave\nPlay=all\n"
        "[Position]\nLeft=1500\nTop=900\nWidth=9000\nHeight=6000\n"
        "[Folder]\nWavePath=" + out.toUtf8() + "\nMidiPath=" + midi.toUtf8() +
        "\nScmpx=(なし)\nWm8eutil=(なし)\nWaveflt=" + flt.toUtf8() +
        "\n"
        "[Option]\nTitleToName=1\nDefSample=20\nDefDevice=0\nSelSample=0\nWait=1\nUnknownKey=kept\n"
        "[Encoder]\nEnable0=0\nEnable1=0\nEnable2=0\nDefault=1\nBitrate=192\nStereo=Joint Stereo\nWMAEnc=-1\nFast=1\n"
        "[Normalize]\nEnable=1\nheadcut=NG\n"
        "[Wait]\nCount=15\n";
    fx.writeIni(text);
    frmMain* f = fx.start();
    QCOMPARE(f->frameGeometry().topLeft() - f->screen()->geometry().topLeft(), QPoint(100, 60));
    QCOMPARE(f->frameGeometry().size(), QSize(600, 400));
    QVERIFY(f->ButtonPressed("all"));
    QVERIFY(f->chkTitleToFilename->isChecked());
    QCOMPARE(f->cboSample->currentIndex(), 20);
    QCOMPARE(f->mnuSetWait->text(), QStringLiteral("録再遅延(前後1.5秒)"));
    QVERIFY(f->ButtonPressed("waveflt") && !f->ButtonPressed("headcut"));
    QVERIFY(f->Button("headcut")->isVisible() && f->mnuSetCutOK[1]->isChecked());
    fx.close();
    // Every value comes back as it was, in place; the unknown key and the comment stay.
    QCOMPARE(fx.readIni(), text);
  }

  void maximisedCloseKeepsStoredPosition() {
    AppFixture fx;
    fx.writeIni("[Position]\nLeft=300\nTop=450\nWidth=8000\nHeight=5000\n");
    frmMain* f = fx.start();
    f->showMaximized();
    QTest::qWait(50);
    fx.close();
    QVERIFY(fx.readIni().startsWith("[Position]\nLeft=300\nTop=450\nWidth=8000\nHeight=5000\n[OnKey]\nMedia=wave\n"));
  }

  void storedPositionIsPulledOntoTheScreen() {
    AppFixture fx;
    const QRect sg = QGuiApplication::primaryScreen()->geometry();
    const int sw = sg.width() * 15, sh = sg.height() * 15;
    fx.writeIni(QStringLiteral("[Position]\nLeft=%1\nTop=%2\nWidth=9000\nHeight=6000\n").arg(sw - 3000).arg(sh - 1500).toUtf8());
    frmMain* f = fx.start();
    const QRect fr = f->frameGeometry();
    QCOMPARE(fr.right() + 1, sg.right() + 1);
    QCOMPARE(fr.bottom() + 1, sg.bottom() + 1);
  }

  void installedEncodersDecideTheOfferedCommands() {
    // wm8eutil alone: WMA offered, no MP3, and no SCMPX entry in the run menu.
    AppFixture fx;
    const QString wm8 = fx.root->path() + "/wm8eutil.exe";
    Touch(wm8, true);
    fx.writeIni(("[Folder]\nWm8eutil=" + wm8 + "\n").toUtf8());
    frmMain* f = fx.start();
    QVERIFY(!f->mnuRunSoft[3]->isVisible() && !f->Button("mp3")->isEnabled() && !f->mnuSetType[1]->isEnabled());
    QVERIFY(f->Button("wma")->isEnabled() && f->mnuSetType[2]->isEnabled());

    // ACM installed: MP3 offered.
    AppFixture fx2;
    Touch(fx2.root->path() + "/system/L3CODECP.ACM");
    Touch(fx2.app + "/vbmp3.dll");
    QVERIFY(fx2.start()->Button("mp3")->isEnabled() && fx2.form->mnuSetType[1]->isEnabled());
  }

  void storedFormatIsReplayedEvenWhenDisabled() {
    AppFixture fx;
    fx.writeIni("[OnKey]\nMedia=wma\nPlay=all\n");
    frmMain* f = fx.start();
    QVERIFY(!f->Button("wma")->isEnabled() && f->ButtonPressed("wma"));
    QVERIFY(f->mnuSetType[2]->isChecked() && !f->mnuSetType[0]->isChecked() && f->mnuSetPlay[1]->isChecked());

    // A word that names no button falls back to the default.
    AppFixture fx2;
    fx2.writeIni("[OnKey]\nMedia=flac\nPlay=loop\n");
    QVERIFY(fx2.start()->ButtonPressed("wave") && fx2.form->ButtonPressed("one"));
  }

  void layoutAtDesignSizeAndAfterResizing() {
    AppFixture fx;
    frmMain* f = fx.start();
    const QList<int> design = {f->twSample.Top, f->twDevice.Top, f->twWaveName.Top, f->twYa.Top, f->twChk.Top,
                               f->twChk.Left, f->twList.Top + f->twList.Height, f->twDevice.Left + f->twDevice.Width};
    QCOMPARE(design, QList<int>({3615, 3615, 3180, 2865, 2865, 2955, 2805, frmMain::kDesignClientWidth - 120}));
    QCOMPARE(f->cboSample->geometry(), QRect(8, 241, 273, 20));
    QCOMPARE(f->lblYa->geometry().top(), 191);

    const auto before = std::make_tuple(f->twToolbar, f->twList, f->twWaveName, f->twDevice, f->twSample, f->twYa, f->twChk);
    f->resize(f->width() + 1000 / 15, f->height() + 500 / 15);
    QTest::qWait(20);
    const auto& [tb, ls, wn, dv, sm, ya, ck] = before;
    // Wider: the toolbar, the list, the label and the device combo grow; nothing else moves sideways.
    for (int grown : {f->twToolbar.Width - tb.Width, f->twList.Width - ls.Width, f->twWaveName.Width - wn.Width,
                      f->twDevice.Width - dv.Width})
      QCOMPARE(grown, 990);
    QCOMPARE(f->twDevice.Left, dv.Left);
    QCOMPARE(f->twChk.Left, ck.Left);
    // Taller: the lower controls move down and the list grows by the same amount.
    for (auto [now, was] : {std::pair{f->twSample.Top, sm.Top}, {f->twDevice.Top, dv.Top}, {f->twWaveName.Top, wn.Top},
                            {f->twYa.Top, ya.Top}, {f->twChk.Top, ck.Top}})
      QCOMPARE(now - was, 495);
    QCOMPARE(f->twList.Height - ls.Height, 495);
    QCOMPARE(f->twList.Top, ls.Top);
  }

  void maximiseLeavesControlsInPlace() {
    AppFixture fx;
    frmMain* f = fx.start();
    const QRect list = f->lstSource->geometry();
    f->showMaximized();
    QTest::qWait(50);
    QCOMPARE(f->lstSource->geometry(), list);
    // Back in the normal state the controls are laid out again from the new size.
    f->showNormal();
    f->resize(640, 400);
    QTest::qWait(50);
    QCOMPARE(f->lstSource->geometry().width(), f->client->width() - 16);
    QCOMPARE(f->cboSample->geometry().top(), f->client->height() - 20 - 28);
  }

  void screenshotShowsJapaneseCaptions() {
    AppFixture fx;
    frmMain* f = fx.start();
    QTest::qWait(50);
    const QImage shot = f->grab().toImage();
    QCOMPARE(shot.width(), f->width());
    // The caption label is drawn: its area holds dark text pixels on the window background.
    const QRect r = f->lblYa->geometry().translated(f->client->mapTo(f, QPoint(0, 0)));
    int dark = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x)
        if (qGray(shot.pixel(x, y)) < 100) ++dark;
    QVERIFY2(dark > 40, qPrintable(QString::number(dark)));
    QVERIFY(QFontInfo(f->lblYa->font()).family().contains("IPA"));
    QCOMPARE(QStringList({f->lblYa->text(), f->Panel("status")->text(), f->Panel("Title")->toolTip(),
                          f->Button("headcut")->toolTip()}),
             QStringList({"↓変換後のWaveファイルパス", "Ready", "タイトル", "先頭無音部分のカット"}));
  }

  void delayAnswers() {
    AppFixture fx;
    frmMain* f = fx.start();
    // Answer, then the count, the menu's check and its text (an empty answer is a cancel and
    // changes nothing; beyond the 16-bit count the value is clamped; tenths are rounded down in
    // single precision; "nan" and "inf" are no numbers).
    for (auto [answer, count, on, text] :
         {std::tuple{"-2", 20, true, "2"}, {"1.25", 12, true, "1.25"}, {"abc", 0, false, "0"}, {"", 0, false, "0"},
          {"5000", 32767, true, ""}, {"nan", 0, false, "0"}, {"0.19999", 1, true, "0.19999"}, {"-inf", 0, false, "0"},
          {"0.7", 7, true, "0.7"}, {"inf", 0, false, "0"}}) {
      f->ApplyWaitAnswer(answer);
      const QString row = QStringLiteral("answer %1: ").arg(answer);
      QCOMPARE(row + QString::number(G().WaitCount), row + QString::number(count));
      QCOMPARE(row + QString::number(f->mnuSetWait->isChecked()), row + QString::number(on));
      if (*text) QCOMPARE(f->mnuSetWait->text(), QStringLiteral("録再遅延(前後%1秒)").arg(text));
    }
    // The input box speaks Japanese, Qt's own buttons included.
    QStringList buttons;
    QTimer::singleShot(0, f, [&buttons] {
      auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
      if (!box) return;
      for (QPushButton* b : box->findChildren<QPushButton*>()) buttons << b->text();
      box->setTextValue("0.7");
      box->accept();
    });
    f->mnuSetWait_Click();
    buttons.sort();
    QCOMPARE(buttons, QStringList({"OK", "キャンセル"}));
    QCOMPARE(G().WaitCount, short(7));
  }

  void keysEscAndDelete() {
    AppFixture fx;
    frmMain* f = fx.start();
    int code = 27, shift = 0;
    f->Form_KeyDown(code, shift);
    QCOMPARE(code, 27);  // nothing runs: Esc passes on
    f->Sources->Add({"/m/a.mid", "/m/b.mid", "/m/c.mid"});
    f->lstSource->setCurrentRow(0);
    f->LockWindow(true);
    f->Form_KeyDown(code, shift);  // while a run goes on, Esc is Stop: the run ends after its item
    QCOMPARE(QString::number(code) + " " + QString::number(f->lstSource->currentRow()), QString("0 2"));
    f->UnlockWindow();
    f->lstSource->setCurrentRow(-1);
    code = 46;
    f->Form_KeyDown(code, shift);
    QCOMPARE(code, 46);  // nothing selected: Delete passes on
    f->lstSource->setCurrentRow(1);
    f->lblWaveFileName->setText("x");
    f->Form_KeyDown(code, shift);
    QCOMPARE(code, 0);
    QCOMPARE(f->lstSource->count(), 2);
    QCOMPARE(f->Sources->Entry(0) + " " + f->Sources->Entry(1), QStringLiteral("/m/a.mid /m/c.mid"));
    QCOMPARE(f->lblWaveFileName->text(), QString());
    code = 115;
    shift = 4;
    f->Form_KeyDown(code, shift);  // Alt+F4 quits through the normal shut-down
    QCOMPARE(code, 0);
    QVERIFY(fx.ended);
    QVERIFY(QFile::exists(fx.ini()));
  }

  void normaliserButtonsFollowTheMenus() {
    AppFixture fx;
    const QString flt = fx.root->path() + "/waveflt.exe";
    Touch(flt, true);
    fx.writeIni(("[Folder]\nWaveflt=" + flt + "\n").toUtf8());
    frmMain* f = fx.start();
    // Normaliser pressed, cut button shown, cut submenu enabled, cut button pressed, "NG" checked.
    auto state = [f] {
      return QList<bool>{f->ButtonPressed("waveflt"), f->Button("headcut")->isVisible(), f->mnuSetCut->menuAction()->isEnabled(),
                         f->ButtonPressed("headcut"), f->mnuSetCutOK[1]->isChecked()};
    };
    QVERIFY(f->Button("waveflt")->isVisible());
    QCOMPARE(state(), QList<bool>({false, false, false, true, false}));
    f->mnuNormalEnable_Click(1);
    QCOMPARE(state(), QList<bool>({true, true, true, true, false}));
    f->mnuSetCutOK_Click(1);
    QCOMPARE(state(), QList<bool>({true, true, true, false, true}));
    f->Button("waveflt")->trigger();  // off through the toolbar: the cut choice is kept, its button hidden
    QVERIFY(f->mnuNormalEnable[2]->isChecked());
    QCOMPARE(state(), QList<bool>({false, false, false, false, true}));
    f->Button("waveflt")->trigger();
    QCOMPARE(state(), QList<bool>({true, true, true, false, true}));
    f->Button("headcut")->trigger();
    QVERIFY(f->mnuSetCutOK[0]->isChecked());
  }

  void versionBox() {
    AppFixture fx;
    frmMain* f = fx.start();
    f->mnuHelpVersion_Click();
    QCOMPARE(fx.messages.size(), size_t(1));
    QCOMPARE(fx.messages[0].title, QStringLiteral("バージョン情報"));
    QCOMPARE(fx.messages[0].style, 64);
    QVERIFY(fx.messages[0].text.startsWith("Korvessa\r\n\r\n\tVer." + frmMain::VersionText() + "\r\n\r\n"));
  }
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
