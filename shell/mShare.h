// Operating-system and path helpers as one-line calls. None shows a message; failure is an
// empty string, 0 or false.
#pragma once
#include <QString>
#include <QStringList>
#include <functional>

// True when the command-line arguments are exactly "/NT", otherwise when the system reports
// an NT-class platform.
bool IsNT();
// Opens a document or web address with the desktop; the shell's result when > 32, else 0.
long ShellOpen(const QString& target);
// The folder part of path ("/tools/waveflt.exe" -> "/tools", "/waveflt.exe" -> "/");
// empty when nothing could be removed (the root) or nothing is left (a bare name).
QString RemoveFileSpec(const QString& path);
// The short form of an existing path (here the path itself); empty when it does not exist.
QString GetShortPath(const QString& path);

namespace kv {
// The NT test for given arguments (after the program name): "/NT" alone forces true without
// asking platformId; otherwise platformId() == 2 (VER_PLATFORM_WIN32_NT).
bool IsNTFor(const QStringList& args, const std::function<unsigned()>& platformId);
}  // namespace kv
