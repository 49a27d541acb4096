// The encoder settings dialog: which encoder makes MP3 and which makes WMA files, the MP3 bit
// rate and channel mode, SCMPX's fast mode and the sampling-rate filter of the format list.
#pragma once
#include <QDialog>
#include <QVector>

#include "settings/Settings.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class frmEncoder : public QDialog {
  Q_OBJECT
 public:
  // Edits a copy of `settings`; after OK, Result() holds the edited copy. The program's folder
  // is where locating a program starts when none is set.
  frmEncoder(const kv::Settings& settings, const QString& programFolder, QWidget* owner = nullptr);

  // Fills the controls from the settings (steps before the dialog is shown).
  void Fill();
  void cmdSelScmpx_Click();
  void cmdSetWme8util_Click();
  // Takes the controls into the settings copy and hides the dialog.
  void cmdOK_Click();
  bool Accepted() const { return m_accepted; }
  const kv::Settings& Result() const { return m_settings; }

  QGroupBox* fraMP3 = nullptr;
  QVector<QRadioButton*> optMP3Enc;
  QLineEdit* lblScmpx = nullptr;
  QPushButton* cmdSelScmpx = nullptr;
  QCheckBox* chkFast = nullptr;
  QLabel* lblGogoVer = nullptr;
  QComboBox* cboBitrate = nullptr;
  QCheckBox* chkJoint = nullptr;
  QGroupBox* fraWMA = nullptr;
  QVector<QRadioButton*> optWMAEnc;
  QLineEdit* lblwma8util = nullptr;
  QPushButton* cmdSetWme8util = nullptr;
  QCheckBox* chkSampleSel = nullptr;
  QPushButton* cmdOK = nullptr;

 private:
  // The shared part of the two browse buttons.
  void LocateProgram(const QString& current, QLineEdit* field, QVector<QRadioButton*>& options,
                     const QString& filter, const QString& expectedLower, const QString& title);
  void Form_Load();
  QButtonGroup* m_mp3Group = nullptr;
  QButtonGroup* m_wmaGroup = nullptr;
  kv::Settings m_settings;
  QString m_programFolder;
  bool m_accepted = false;
};
