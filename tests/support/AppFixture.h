// A main window started on a temporary program folder, with its messages captured.
#pragma once
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QAction>
#include <QTimer>
#include <memory>

#include "app/frmMain.h"
#include "engine/ConversionController.h"
#include "app/SourceListView.h"
#include "midi/SourceList.h"
#include "ScratchFolder.h"
#include "shell/MsgBox.h"

struct Message {
  QString text;
  int style;
  QString title;
};

class AppFixture {
 public:
  AppFixture() {
    root = std::make_unique<QTemporaryDir>();
    app = root->path() + "/app";
    QDir().mkpath(app);
    QDir().mkpath(root->path() + "/system");
    QDir().mkpath(root->path() + "/windows");
    qputenv("KORVESSA_SYSTEM_DIR", (root->path() + "/system").toUtf8());
    qputenv("KORVESSA_WINDOWS_DIR", (root->path() + "/windows").toUtf8());
    qputenv("KORVESSA_SYSTEM_INI", (root->path() + "/system.ini").toUtf8());
    setSystem(true);
    kv::SetMsgBoxHook([this](const QString& t, int s, const QString& title) {
      messages.push_back({t, s, title});
      return kv::vbOK;
    });
  }
  ~AppFixture() {
    form.reset();
    kv::SetMsgBoxHook({});
  }
  QString ini() const { return app + "/Dorvanti.ini"; }
  // The small SoundFont keeps recordings quick; fast = render as fast as the CPU allows.
  void setSystem(bool fast) const {
    kvtest::writeText(root->filePath("system.ini").toStdString(),
                      std::string("[Setup]\nSoundFont=/usr/share/sounds/sf2/TimGM6mb.sf2\nFast=") + (fast ? "1" : "0") + "\n");
  }
  // Waits until no conversion or playback runs.
  bool waitIdle(int ms = 60000) const {
    return QTest::qWaitFor([this] { return !form->mnuExecStop->isEnabled() && !form->Engine()->Busy(); }, ms);
  }
  void writeIni(const QByteArray& text) const { kvtest::writeText(ini().toStdString(), text.toStdString()); }
  frmMain* start() {
    form = std::make_unique<frmMain>(app, "Dorvanti");
    form->setEndProcess([this] { ended = true; });
    form->Form_Load();
    form->show();
    QTest::qWait(20);
    return form.get();
  }

  std::unique_ptr<QTemporaryDir> root;
  QString app;
  std::unique_ptr<frmMain> form;
  std::vector<Message> messages;
  bool ended = false;
};
