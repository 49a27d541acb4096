// korvessa: the headless command-line driver.
#include <QCoreApplication>
#include <cstdio>

#include "cli/Verbs.h"
#include "shell/FileName.h"

namespace {
QList<KvVerbInfo>& Registry() {
  static QList<KvVerbInfo> verbs;
  return verbs;
}
}  // namespace

KvVerb::KvVerb(const KvVerbInfo& info) { Registry().append(info); }

const QList<KvVerbInfo>& KvVerbs() { return Registry(); }

// File names in the text go out as the bytes they are on disk.
void KvOut(const QString& text) { std::fputs(kv::PathBytes(text).constData(), stdout); }
void KvErr(const QString& text) { std::fputs(kv::PathBytes(text).constData(), stderr); }

QString KvUsageText(const char* verb) {
  QString text = QStringLiteral("usage:\n");
  for (const KvVerbInfo& v : KvVerbs())
    if (!verb || qstrcmp(verb, v.name) == 0) text += QStringLiteral("  korvessa %1\n").arg(QString::fromUtf8(v.usage));
  if (!verb) text += QStringLiteral("  korvessa --version\n");
  return text;
}

int KvUsage(const QString& message) {
  if (!message.isEmpty()) KvErr(QStringLiteral("korvessa: ") + message + u'\n');
  KvErr(KvUsageText());
  return kExitUsage;
}

int main(int argc, char** argv) {
  // Taken before Qt sees them: Qt would turn bytes that are not UTF-8 into U+FFFD and would
  // take arguments such as "-style" for itself.
  QStringList args;
  for (int i = 2; i < argc; ++i) args << kv::PathText(QByteArray(argv[i]));
  QCoreApplication app(argc, argv);
  if (argc < 2) return KvUsage();
  const QString verb = kv::PathText(QByteArray(argv[1]));
  if (verb == u"-h" || verb == u"--help" || verb == u"help") {
    KvOut(KvUsageText());
    return kExitOk;
  }
  if (verb == u"--version") {
    KvOut(QStringLiteral("korvessa %1.%2.%3\n").arg(KV_VERSION_MAJOR).arg(KV_VERSION_MINOR).arg(KV_VERSION_PATCH));
    return kExitOk;
  }
  for (const KvVerbInfo& v : KvVerbs())
    if (verb == QString::fromUtf8(v.name)) return v.run(args);
  return KvUsage(QStringLiteral("unknown command: ") + verb);
}
