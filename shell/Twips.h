// Window measures are kept in twips, as the settings file stores them: 15 twips per pixel (96 dpi).
#pragma once
#include <QWidget>
#include <cmath>

namespace kv {

constexpr int kTwipsPerPixel = 15;
inline int TwipsToPx(double twips) { return static_cast<int>(std::lround(twips / kTwipsPerPixel)); }
inline double PxToTwips(int px) { return static_cast<double>(px) * kTwipsPerPixel; }

// A control's design-time geometry in twips; Apply() places the widget.
struct TwipsBox {
  QWidget* w = nullptr;
  int Left = 0, Top = 0, Width = 0, Height = 0;
  void Apply() const {
    if (w) w->setGeometry(TwipsToPx(Left), TwipsToPx(Top), std::max(0, TwipsToPx(Width)), std::max(0, TwipsToPx(Height)));
  }
};

}  // namespace kv
