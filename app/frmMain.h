// The main window: the program. Loading it is start-up, unloading it ends the process.
#pragma once
#include <QElapsedTimer>
#include <QMainWindow>
#include <QHash>
#include <QVector>
#include <functional>
#include <memory>
#include <optional>

#include "shell/Twips.h"
#include "settings/inifile_IO.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class SourceListView;
class QMenu;
class QStatusBar;
class QTimer;
class QToolBar;
class cSystemFolder;
namespace kv {
class ConversionController;
struct ConversionJob;
class SourceList;
}  // namespace kv

class frmMain : public QMainWindow {
  Q_OBJECT

 public:
  // appDir / exeBaseName default to the running executable's folder and name.
  explicit frmMain(const QString& appDir = QString(), const QString& exeBaseName = QString(),
                   QWidget* parent = nullptr);
  ~frmMain() override;

  // Start-up (runs once) and shut-down.
  void Form_Load();
  void Form_Unload();
  // What the last step of shut-down does; by default the process ends at once.
  void setEndProcess(std::function<void()> fn) { m_endProcess = std::move(fn); }
  // A headless driver does not open the help page on a first run.
  void setOpenHelpOnFirstRun(bool open) { m_openHelpOnFirstRun = open; }

  // Layout.
  void Form_Resize();
  // Keys as the window sees them before its controls; returns with KeyCode 0 when handled.
  void Form_KeyDown(int& KeyCode, int& Shift);

  // Command dispatch by the button's key.
  void Toolbar1_ButtonClick(QAction* Button);
  QAction* Button(const QString& key) const { return m_buttons.value(key); }
  bool ButtonPressed(const QString& key) const;
  void SetButtonPressed(const QString& key, bool pressed);
  const QVector<QAction*>& ToolbarButtons() const { return m_buttonOrder; }

  // Menu handlers.
  void mnuFileQuit_Click();
  void mnuExecPlay_Click();
  void mnuExecDecode_Click();
  void mnuExecStop_Click();
  void mnuSetType_Click(int Index);
  void mnuSetPlay_Click(int Index);
  void mnuRunSoft_Click(int Index);
  void mnuSetWait_Click();
  void mnuHelpOnline_Click();
  void mnuOtoiawaseForm_Click();
  void mnuHelpVersion_Click();
  // Source list and output naming.
  void mnuFileOpen_Click();
  void mnuFileClear_Click();
  void mnuFileSave_Click();
  void lstSource_Click();
  void AddSourceFiles(const QStringList& paths);  // adds entries, selects the last one added
  // Drops onto the list: Effect is 1 (copy) or 0 (none).
  void lstSource_OLEDragOver(const class QMimeData* Data, int& Effect);
  void lstSource_OLEDragDrop(const class QMimeData* Data, int& Effect);
  // Conversion, playback and stop: the engine runs them on the job built from the window.
  kv::ConversionController* Engine() const { return m_engine; }
  kv::ConversionJob BuildJob() const;
  void StartConversion();
  void PlayCommand();
  void StopRun();
  // Locks the window while a run goes on (a conversion also locks the normaliser buttons).
  void LockWindow(bool conversion);
  void UnlockWindow();
  // Encoder settings dialog and the capacity check.
  void mnuSetEncoder_Click();
  void mnuFileSpace_Click();
  // Starts an external program as a normal window; a failure is reported and the window goes on.
  void RunProgram(const QString& commandLine);
  // Normaliser settings: the menus and buttons show G().NormaliserOn and G().Headcut.
  void NormaliserSetup();
  void ShowNormaliser();
  void mnuNormal_Click();
  void mnuNormalEnable_Click(int Index);
  void mnuSetCutOK_Click(int Index);
  // Applies a delay answer as the delay command does (the input box is separate).
  void ApplyWaitAnswer(const QString& answer);

  // The settings file binding and program-wide pieces owned here.
  inifile_IO& Settings();
  cSystemFolder& SystemFolders();
  QString SettingsPath() const { return m_appDir + "/" + m_exeBase + ".ini"; }
  QString ExeBaseName() const { return m_exeBase; }
  static QString Caption();
  static QString VersionText();  // "x.y.z"

  // Controls (names as the rest of the program knows them).
  QWidget* client = nullptr;
  QToolBar* Toolbar1 = nullptr;
  SourceListView* lstSource = nullptr;  // the view of Sources
  kv::SourceList* Sources = nullptr;     // the source list
  QLabel* lblYa = nullptr;
  QCheckBox* chkTitleToFilename = nullptr;
  QLabel* lblWaveFileName = nullptr;
  QComboBox* cboSample = nullptr;
  QComboBox* cboDevice = nullptr;
  QStatusBar* stb1 = nullptr;
  QLabel* Panel(const QString& key) const { return m_panels.value(key); }

  QMenu* mnuFile = nullptr;
  QMenu* mnuExec = nullptr;
  QMenu* mnuSet = nullptr;
  QMenu* mnuSetMedia = nullptr;
  QMenu* mnuSetPlayType = nullptr;
  QMenu* mnuNormalizer = nullptr;
  QMenu* mnuSetCut = nullptr;
  QMenu* mnuRun = nullptr;
  QMenu* mnuHelp = nullptr;
  QAction* mnuFileClear = nullptr;
  QAction* mnuFileOpen = nullptr;
  QAction* mnuFileSpace = nullptr;
  QAction* mnuFileQuit = nullptr;
  QAction* mnuExecPlay = nullptr;
  QAction* mnuExecDecode = nullptr;
  QAction* mnuExecStop = nullptr;
  QAction* mnuFileSave = nullptr;
  QAction* mnuSetEncoder = nullptr;
  QAction* mnuNormal = nullptr;
  QAction* mnuSetWait = nullptr;
  QAction* mnuHelpOnline = nullptr;
  QAction* mnuOtoiawaseForm = nullptr;
  QAction* mnuHelpVersion = nullptr;
  QVector<QAction*> mnuSetType, mnuSetPlay, mnuRunSoft, mnuNormalEnable, mnuSetCutOK;

  // Twips geometry of the laid-out controls.
  kv::TwipsBox twToolbar, twList, twYa, twChk, twWaveName, twSample, twDevice;

  QString VolumeProgram;

  // The designed client area, in twips.
  static constexpr int kDesignClientWidth = 7320;
  static constexpr int kDesignClientHeight = 4335;

 protected:
  void resizeEvent(QResizeEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* obj, QEvent* e) override;

 private:
  void BuildControls();
  void BuildMenus();
  void BuildToolbar();
  void BuildStatusBar();
  void ConnectEngine();
  QAction* AddButton(const QString& key, const QString& tip, int kind);
  void ReplayStoredKey(QString k, const QString& def, const QStringList& allowed);
  void WriteSettings();
  // Places the window so that its outer frame covers `frame` (screen pixels).
  void PlaceFrame(const QRect& frame);
  void FollowFrame();
  QMargins FrameMargins() const;
  std::optional<QMargins> WindowManagerFrame() const;  // none without a window manager's frame
  QRect OuterFrame() const;  // the window with its frame, on the screen

  QString m_appDir;
  QString m_exeBase;
  std::unique_ptr<inifile_IO> m_settings;
  std::unique_ptr<cSystemFolder> m_systemFolders;
  kv::ConversionController* m_engine = nullptr;
  QHash<QString, QAction*> m_buttons;
  QVector<QAction*> m_buttonOrder;  // keyed buttons and separators, in toolbar order
  QActionGroup* m_formatGroup = nullptr;
  QActionGroup* m_modeGroup = nullptr;
  QHash<QString, QLabel*> m_panels;
  std::function<void()> m_endProcess;
  QRect m_wantedFrame;  // the stored placement, until the window manager's frame is there
  QElapsedTimer m_placed;
  bool m_unloaded = false;
  bool m_openHelpOnFirstRun = true;
};

// The one main window (set by its constructor).
frmMain* MainForm();
