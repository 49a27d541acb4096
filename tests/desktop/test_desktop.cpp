// The windows on a real desktop: Xvfb with the openbox window manager, the real xdg-open/gio
// chain. The program itself is driven with xdotool/wmctrl; the windows' insides are checked
// in this process on the same display.
#include <QtTest>

#include "AppFixture.h"
#include "Desktop.h"
#include "Environment.h"
#include "ScratchFolder.h"
#include "WaveFiles.h"

namespace {
kvtest::Desktop* g_desktop = nullptr;

void WriteFile(const QString& path, const QByteArray& bytes, bool executable = false) {
  QDir().mkpath(QFileInfo(path).path());
  kvtest::writeText(path.toStdString(), bytes.toStdString(), executable);
}
QByteArray ReadFile(const QString& path) { return QByteArray::fromStdString(kvtest::readBytes(path.toStdString())); }
// The window that has the keyboard focus.
std::string ActiveWindow() {
  const kvtest::RunResult r = g_desktop->x({"xdotool", "getactivewindow"});
  return r.out.substr(0, r.out.find('\n'));
}
}  // namespace

class DesktopTest : public QObject {
  Q_OBJECT

 private slots:
  // The program started and closed again, three times: the stored place and size come back
  // exactly, and the window manager's frame is really there each time.
  void restartsKeepTheStoredPlace() {
    kvtest::TempDir dir;
    const std::string exe = dir.file("Dorvanti");
    std::filesystem::copy_file(KV_BIN_DIR "/Dorvanti", exe);
    const std::string position = "[Position]\nLeft=1500\nTop=900\nWidth=9000\nHeight=6000\n";
    kvtest::writeText(dir.file("Dorvanti.ini"), position);
    std::vector<std::string> env = g_desktop->env();
    env.insert(env.end(), {"QT_QPA_PLATFORM=xcb", "KORVESSA_SYSTEM_INI=" + dir.file("system.ini"), "XDG_CONFIG_HOME=" + dir.file("config")});
    for (int round = 1; round <= 3; ++round) {
      const QString name = QStringLiteral("round %1: ").arg(round);
      kvtest::Background program({exe}, env);
      const std::string window = g_desktop->waitWindow("^Korvessa  Ver");
      QVERIFY2(!window.empty(), qPrintable(name + "no window"));
      kvtest::Frame frame;
      (void)QTest::qWaitFor([&] { return (frame = g_desktop->frameOf(window)) == kvtest::Frame{100, 60, 600, 400}; }, 5000);
      QCOMPARE(name + QString::fromStdString(frame.text()), name + "100,60 600x400");
      QCOMPARE(g_desktop->x({"wmctrl", "-i", "-c", window}).exitCode, 0);
      QCOMPARE(program.wait(10000), 0);
      const std::string ini = kvtest::readBytes(dir.file("Dorvanti.ini"));
      const size_t at = ini.find("[Position]");
      QCOMPARE(name + QString::fromStdString(ini.substr(at, position.size())), name + QString::fromStdString(position));
    }
  }

  // The help page reaches the desktop's browser as an HTML page, on the first run, and the
  // inquiry page as its address; without a browser the user is told, for either.
  void helpAndInquiryReachTheBrowser() {
    QTemporaryDir xdg;
    const QString root = xdg.path();
    const QString opened = root + "/opened", address = root + "/address";
    // The test browser keeps the name it was given and a copy of the page; the web one, the address.
    WriteFile(root + "/browser.sh", ("#!/bin/sh\nprintf %s \"$1\" > '" + opened + ".name'\ncp \"$1\" '" + opened + "'\n").toUtf8(), true);
    WriteFile(root + "/web.sh", ("#!/bin/sh\nprintf %s \"$1\" > '" + address + "'\n").toUtf8(), true);
    WriteFile(root + "/data/applications/kv-test-browser.desktop",
              ("[Desktop Entry]\nType=Application\nName=Test browser\nExec=" + root +
               "/browser.sh %f\nMimeType=text/html;\n").toUtf8());
    WriteFile(root + "/data/applications/kv-test-web.desktop",
              ("[Desktop Entry]\nType=Application\nName=Test web\nExec=" + root + "/web.sh %u\nMimeType=x-scheme-handler/https;\n")
                  .toUtf8());
    WriteFile(root + "/config/mimeapps.list",
              "[Default Applications]\ntext/html=kv-test-browser.desktop\nx-scheme-handler/https=kv-test-web.desktop\n");
    QVERIFY(QDir().mkpath(root + "/system") && QFile::link("/usr/share/mime", root + "/system/mime"));
    QVERIFY(QDir().mkpath(root + "/runtime"));
    EnvGuard data("XDG_DATA_HOME", qPrintable(root + "/data")), config("XDG_CONFIG_HOME", qPrintable(root + "/config")),
        dirs("XDG_DATA_DIRS", qPrintable(root + "/system")), desktop("XDG_CURRENT_DESKTOP", "GNOME"),
        runtime("XDG_RUNTIME_DIR", qPrintable(root + "/runtime"));

    AppFixture fx;
    const QByteArray page = ReadFile(KV_SOURCE_DIR "/resources/Dorvanti.hlp");
    QVERIFY(page.contains("<html"));
    WriteFile(fx.app + "/Dorvanti.hlp", page);
    frmMain* f = fx.start();  // no settings file: the first run opens the help
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(opened), 15000);
    QTRY_COMPARE(ReadFile(opened), page);
    const std::string given = ReadFile(opened + ".name").toStdString();
    const kvtest::RunResult type = kvtest::run({"/usr/bin/gio", "info", "-a", "standard::content-type", given});
    QVERIFY2(type.out.find("standard::content-type: text/html") != std::string::npos, (given + " " + type.out).c_str());
    f->mnuOtoiawaseForm_Click();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(address), 15000);
    QTRY_COMPARE(ReadFile(address), QByteArray("https://korvessa.example.org/contact"));
    QVERIFY(fx.messages.empty());

    // No browser at all: F1 and the inquiry page tell the user.
    for (const char* gone : {"/config/mimeapps.list", "/data/applications/kv-test-browser.desktop",
                             "/data/applications/kv-test-web.desktop"})
      QVERIFY(QFile::remove(root + gone));
    f->mnuHelpOnline_Click();
    QTRY_COMPARE_WITH_TIMEOUT(fx.messages.size(), size_t(1), 15000);
    f->mnuOtoiawaseForm_Click();
    QTRY_COMPARE_WITH_TIMEOUT(fx.messages.size(), size_t(2), 15000);
    QVERIFY2(fx.messages[0].text.endsWith(QStringLiteral("を表示できませんでした。\r\nウェブブラウザーを起動できません。")),
             qPrintable(fx.messages[0].text));
    QCOMPARE(fx.messages[1].text, QStringLiteral("ページ https://korvessa.example.org/contact を開けませんでした。\r\n"
                                                 "ウェブブラウザーを起動できません。"));
  }

  // 外部ソフト起動 → SCMPX opens scmpx.exe's own window with the focus; a WAVE chosen in its
  // file dialog, as a user would with the keyboard, is encoded into an MP3 beside it.
  void scmpxFromTheMenuOpensItsWindow() {
    AppFixture fx;
    fx.writeIni("[Folder]\nScmpx=" KV_BIN_DIR "/tools/scmpx.exe\n[Encoder]\nBitrate=96\n");
    const std::string wave = fx.root->filePath("song.wav").toStdString(), mp3 = fx.root->filePath("song.mp3").toStdString();
    kvtest::writeMusicWave(wave, 44100, 16, 2, 2.0);
    frmMain* f = fx.start();
    QVERIFY(f->mnuRunSoft[3]->isVisible());
    f->mnuRunSoft[3]->trigger();
    const std::string window = g_desktop->waitWindow("^SCMPX - MP3");
    QVERIFY2(!window.empty(), "no SCMPX window");
    QVERIFY(QTest::qWaitFor([&] { return ActiveWindow() == window; }, 10000));
    QCOMPARE(g_desktop->x({"xdotool", "key", "alt+a"}).exitCode, 0);
    const std::string dialog = g_desktop->waitWindow("^WAVE");
    QVERIFY2(!dialog.empty(), "no file dialog");
    QVERIFY(QTest::qWaitFor([&] { return ActiveWindow() == dialog; }, 10000));
    QCOMPARE(g_desktop->x({"xdotool", "type", "--delay", "10", wave}).exitCode, 0);
    QCOMPARE(g_desktop->x({"xdotool", "key", "Return"}).exitCode, 0);
    QVERIFY(QTest::qWaitFor([&] { return ActiveWindow() == window; }, 10000));
    QCOMPARE(g_desktop->x({"xdotool", "key", "alt+e"}).exitCode, 0);
    QVERIFY(QTest::qWaitFor([&] { return kvtest::exists(mp3); }, 30000));
    // The window's own choice, 128 kbit/s, not the program's setting.
    QCOMPARE(QString::fromStdString(kvtest::encodedProblem(mp3, "mp3 128000 44100 2", 2.0, kvtest::mp3DurationTolerance(44100))),
             QString());
    QCOMPARE(g_desktop->x({"wmctrl", "-i", "-c", window}).exitCode, 0);
    QVERIFY(QTest::qWaitFor([] { return g_desktop->x({"xdotool", "search", "--onlyvisible", "--name", "^SCMPX - MP3"}).out.empty(); },
                            10000));
    QVERIFY(fx.messages.empty());
  }
};

int main(int argc, char** argv) {
  kvtest::Desktop desktop;
  if (!desktop.ok()) {
    fprintf(stderr, "Xvfb with openbox could not be started (scripts/setup.sh installs xvfb, openbox, x11-utils, "
                    "xdotool, wmctrl)\n");
    return 1;
  }
  g_desktop = &desktop;
  qputenv("DISPLAY", desktop.display().c_str());
  qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication app(argc, argv);
  DesktopTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_desktop.moc"
