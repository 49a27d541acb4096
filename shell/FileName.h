// File names as the program carries them. A Linux name is bytes; a QString holds it with every
// byte that is not part of valid UTF-8 kept as the lone surrogate U+DC80..U+DCFF, so a name
// from an old Shift-JIS archive goes through the list, the labels and the commands and comes
// back as the same bytes. Qt's own file calls would turn such bytes into U+FFFD, so the
// conversion touches files only through the helpers below.
#pragma once
#include <QByteArray>
#include <QString>

class QUrl;

namespace kv {

QString PathText(const QByteArray& bytes);
QByteArray PathBytes(const QString& text);
// For the eye only: bytes that are not UTF-8 read as legacy text (Shift-JIS, else Latin-1), as
// the program reads old titles.
QString DisplayName(const QString& text);

// A file name for a command string or command line: between double quotes, with a double
// quote inside it written as \" and the backslashes before such a quote (or before the closing
// one) doubled, so that the media layer and the program's argument splitter both give back
// exactly the name. A name without quotes and without trailing backslashes is only enclosed.
QString Quoted(const QString& name);

bool FileExists(const QString& path);  // a regular file (links followed)
bool FolderExists(const QString& path);
qint64 FileSize(const QString& path);  // -1 when it does not exist
bool RemoveFile(const QString& path);
bool WriteProtected(const QString& path);  // an existing file without any write permission bit
bool RenameFile(const QString& from, const QString& to);  // refuses to replace an existing file
bool SetCurrentFolder(const QString& path);  // the root for an empty path
QString CurrentFolder();
// Writes a new file through a temporary name beside it, renamed over path when complete.
bool WriteFileReplacing(const QString& path, const QByteArray& bytes);
QByteArray ReadFileBytes(const QString& path, bool* ok = nullptr);
// The local file a file:// address names, its bytes kept (QUrl::toLocalFile would not).
QString LocalPathOf(const QUrl& url);
QString AbsolutePath(const QString& path);  // against the current folder, without resolving links

// Keeps a file that stands where the program needs a working name of its own (a user's own
// "normal.wav" in the output folder): moved to a free name beside it while the object lives,
// then put back. When the name is still taken at the end, the file stays under the other
// name, so nothing is ever lost.
class SetAside {
 public:
  explicit SetAside(const QString& path);
  ~SetAside();
  SetAside(const SetAside&) = delete;
  SetAside& operator=(const SetAside&) = delete;
  bool ok() const { return ok_; }  // false when a file stood there and could not be moved

 private:
  QString path_, aside_;
  bool ok_ = true;
};

}  // namespace kv
