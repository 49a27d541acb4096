// Qt's own texts (standard buttons, file dialog captions) in Japanese, like the rest of the
// program. Used by every window program of the project; installing twice does nothing.
#pragma once
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace kv {

inline void InstallQtJapanese() {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || app->findChild<QTranslator*>(QStringLiteral("qtbase_ja"), Qt::FindDirectChildrenOnly)) return;
  auto* t = new QTranslator(app);
  t->setObjectName(QStringLiteral("qtbase_ja"));
  if (t->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"), QStringLiteral("_"),
              QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(t);
  else
    delete t;  // the translation is not installed: Qt's texts stay English
}

}  // namespace kv
