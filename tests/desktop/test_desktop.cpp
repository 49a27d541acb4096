// The windows on a real desktop: Xvfb with the openbox window manager, the real xdg-open/gio
// chain. The program itself is driven with xdotool/wmctrl; the windows' insides are checked
// in this process on the same display.
#include <QtTest>

#include "AppFixture.h"
#include "Desktop.h"
#include "Environment.h"
#include "ScratchFolder.h"

namespace {
kvtest::Desktop* g_desktop = nullptr;

void WriteFile(const QString& path, const QByteArray& bytes, bool executable = false) {
  QDir().mkpath(QFileInfo(path).path());
  kvtest::writeText(path.toStdString(), bytes.toStdString(), executable);
}
QByteArray ReadFile(const QString& path) { return QByteArray::fromStdString(kvtest::readBytes(path.toStdString())); }
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

  // The help page reaches the desktop's browser as an HTML page, on the first run; without a
  // browser the user is told.
  void helpReachesTheBrowser() {
    QTemporaryDir xdg;
    const QString root = xdg.path();
    const QString opened = root + "/opened";
    // The test browser keeps the name it was given and a copy of the page.
    WriteFile(root + "/browser.sh", ("#!/bin/sh\nprintf %s \"$1\" > '" + opened + ".name'\ncp \"$1\" '" + opened + "'\n").toUtf8(), true);
    WriteFile(root + "/data/applications/kv-test-browser.desktop",
              ("[Desktop Entry]\nType=Application\nName=Test browser\nExec=" + root +
               "/browser.sh %f\nMimeType=text/html;\n").toUtf8());
    WriteFile(root + "/config/mimeapps.list", "[Default Applications]\ntext/html=kv-test-browser.desktop\n");
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
    QVERIFY(fx.messages.empty());

    // No browser for web pages: F1 tells the user.
    QVERIFY(QFile::remove(root + "/config/mimeapps.list") &&
            QFile::remove(root + "/data/applications/kv-test-browser.desktop"));
    f->mnuHelpOnline_Click();
    QTRY_COMPARE_WITH_TIMEOUT(fx.messages.size(), size_t(1), 15000);
    QVERIFY2(fx.messages[0].text.endsWith(QStringLiteral("を表示できませんでした。\r\nウェブブラウザーを起動できません。")),
             qPrintable(fx.messages[0].text));
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
