#include "shell/ToolbarImages.h"

static void InitToolbarResource() { Q_INIT_RESOURCE(toolbar); }

namespace kv {

const QStringList& ToolbarImageKeys() {
  static const QStringList keys = {
      QStringLiteral("FileOpen"), QStringLiteral("waveflt"), QStringLiteral("Play"),  QStringLiteral("Rec"),
      QStringLiteral("Stop"),     QStringLiteral("one"),     QStringLiteral("all"),   QStringLiteral("wave"),
      QStringLiteral("mp3"),      QStringLiteral("SaveFolder"), QStringLiteral("Clear"), QStringLiteral("SndVol"),
      QStringLiteral("wma"),      QStringLiteral("RecVol"),  QStringLiteral("Exit"),  QStringLiteral("headcut")};
  return keys;
}

void InitToolbarImages() {
  static const bool done = (InitToolbarResource(), true);
  Q_UNUSED(done);
}

QImage ToolbarImage(const QString& key) {
  InitToolbarImages();
  if (!ToolbarImageKeys().contains(key)) return {};
  return QImage(QStringLiteral(":/toolbar/%1.png").arg(key));
}

}  // namespace kv
