// The verbs of the command-line driver. Each verb lives in its own cmd_<verb>.cpp and registers
// itself with a static KvVerb object, so a new verb is one new source file.
#pragma once
#include <QStringList>

struct KvVerbInfo {
  const char* name;
  const char* usage;  // one line after "korvessa "
  int (*run)(const QStringList& args);  // args after the verb; returns the exit code
};

// Exit codes: 0 done, 1 some input could not be processed, 2 usage error.
enum KvExit { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

struct KvVerb {
  explicit KvVerb(const KvVerbInfo& info);
};

const QList<KvVerbInfo>& KvVerbs();
// The usage text of one verb, or of all when verb is null.
QString KvUsageText(const char* verb = nullptr);
// Prints the message and the usage text on stderr and returns kExitUsage.
int KvUsage(const QString& message = QString());
// Writes UTF-8 text to stdout / stderr.
void KvOut(const QString& text);
void KvErr(const QString& text);
