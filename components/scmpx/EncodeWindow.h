// scmpx.exe's own window, opened when it is started without arguments on a desktop: WAVE files
// chosen in it are encoded one after another into MP3 files beside them, with the bit rate and
// the fast option of the command line, and every file's result is said in the window.
#pragma once
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace kv::mp3 {
class Mp3Encoder;
}

namespace kv::scmpx {

// The MP3 beside a WAVE: its ".wav" (any letter case) replaced by ".mp3", else ".mp3" added.
QString Mp3NameFor(const QString& wave);

class EncodeWindow : public QWidget {
  Q_OBJECT
 public:
  explicit EncodeWindow(QWidget* parent = nullptr);
  ~EncodeWindow() override;

  // Adds WAVE files to the list as if chosen with 追加... (also used by its file dialog).
  void addFiles(const QStringList& paths);
  QStringList files() const;
  bool running() const { return bool(encoder_); }
  // The results of the last run, one line per file.
  QString report() const;

 signals:
  void runFinished();

 private:
  void browse();
  void removeSelected();
  void start();
  void stop();
  void next();
  void frames();
  void endFile(const QString& line);
  void showState();
  // The bar over the whole run: the files before the current one, and this much of it.
  int Overall(int filePercent) const;

  QListWidget* list_ = nullptr;
  QComboBox* bitrate_ = nullptr;
  QCheckBox* fast_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QLabel* now_ = nullptr;
  QPlainTextEdit* report_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* remove_ = nullptr;
  QPushButton* encode_ = nullptr;
  QPushButton* stop_ = nullptr;

  QStringList queue_, results_;
  QString current_;
  int done_ = 0, total_ = 0;
  bool stopped_ = false;
  std::unique_ptr<kv::mp3::Mp3Encoder> encoder_;
  QTimer tick_;
};

}  // namespace kv::scmpx
