// What the three encoder progress windows share: a bar, a percentage label, a caption naming
// the file, and waits that keep every window responsive.
#pragma once
#include <QWidget>
#include <functional>

#include "owned.h"

class QLabel;
class QProgressBar;

namespace kv {

// Runs the event loop until busy() is false; never spins, never blocks for good.
void WaitWhile(const std::function<bool()>& busy);

// "##0.00 %": at least one integer digit (0.35 %, 12.50 %, 100.00 %).
QString PercentText(float percent);
// "###.00 %": no forced integer digit (.45 %, 12.50 %).
QString PercentTextNoLeadingZero(float percent);
// The bar's value for a percentage: 0..100.
int BarValue(float percent);

// The library file named name (letter case ignored) in folder, loaded once and kept loaded;
// nullptr when it is missing or cannot be loaded.
const SharedLibrary* LoadLibraryIn(const QString& folder, const QString& name);

class ProgressWindow : public QWidget {
  Q_OBJECT
 public:
  explicit ProgressWindow(QWidget* owner);
  QProgressBar* bar() const { return m_bar; }
  QLabel* lblPer = nullptr;

 protected:
  // prefix[<file name of the WAVE>]
  void SetCaptionFor(const QString& prefix, const QString& waveFileName);

 private:
  QProgressBar* m_bar = nullptr;
};

}  // namespace kv
