// Directory lookups the program makes: the name a directory search reports for a path or
// pattern (letter case ignored, as on Windows), or nothing.
#pragma once
#include <QString>
#include <QStringList>

namespace kv {

enum DirAttr { kFilesOnly = 0, kWithDirectories = 0x10 };

// Name of the first entry matching pattern (a path whose last component may hold * and ?);
// empty when none matches or the lookup fails. Directories count only with kWithDirectories.
QString Dir(const QString& pattern, int attributes = kFilesOnly);
// Every matching name, in the order the directory lists them.
QStringList DirAll(const QString& pattern, int attributes = kFilesOnly);
// True when path names an existing file whose own name, lower-cased, is expectedLower.
bool FileNamed(const QString& path, const QString& expectedLower);

}  // namespace kv
