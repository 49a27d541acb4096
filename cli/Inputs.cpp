#include "cli/Inputs.h"

#include <QDir>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "midi/MIDInfo.h"
#include "midi/SourceList.h"
#include "shell/FileName.h"
#include "owned.h"

namespace kvcli {

namespace {

QString OutputOf(const QString& song, const QString& folder, const Naming& naming) {
  QString title;
  if (naming.titleToName) title = ParseMidiBytes(kv::ReadFileBytes(song), song).Title;
  if (title.isEmpty()) title = FileTitleOf(song);
  const QString wave = kv::SourceList::OutputNameFor(song, title, naming.titleToName, folder);
  return wave.left(wave.size() - 3) + naming.extension;
}

// Every song under folder/rel (and every subfolder that cannot be read), paired with its
// path relative to `root` as the sort key.
void Walk(const QString& root, const QString& rel, const Naming& naming, QList<std::pair<QByteArray, Item>>* found) {
  const QString folder = rel.isEmpty() ? root : root + "/" + rel;
  kv::UniqueDir dir{opendir(kv::PathBytes(folder).constData())};
  if (!dir) {
    found->append({kv::PathBytes(rel), {folder, {}, QStringLiteral("cannot read the folder (%1)").arg(strerror(errno))}});
    return;
  }
  while (dirent* e = readdir(dir.get())) {
    const QByteArray name(e->d_name);
    if (name == "." || name == "..") continue;
    const QString sub = (rel.isEmpty() ? QString() : rel + "/") + kv::PathText(name);
    const QString path = root + "/" + sub;
    struct stat st {};
    // A linked folder is not followed: a link back up would never end.
    if (::lstat(kv::PathBytes(path).constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
      Walk(root, sub, naming, found);
    } else if (kv::IsMidiName(path) && kv::FileExists(path)) {
      found->append({kv::PathBytes(sub), {path, OutputOf(path, rel.isEmpty() ? naming.outRoot : naming.outRoot + "/" + rel, naming), {}}});
    }
  }
}

}  // namespace

QList<Item> CollectItems(const QStringList& args, const Naming& naming, QStringList* problems) {
  QList<Item> items;
  QSet<QString> seen;  // the same song named twice converts once
  auto add = [&](const Item& item) {
    if (!seen.contains(item.input)) items << item;
    seen.insert(item.input);
  };
  for (const QString& arg : args) {
    const QString path = QDir::cleanPath(kv::AbsolutePath(arg));
    if (kv::FolderExists(path)) {
      QList<std::pair<QByteArray, Item>> found;
      Walk(path, QString(), naming, &found);
      if (found.isEmpty()) *problems << arg + ": no .mid or .rmi files in this folder";
      std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
      for (const auto& f : found) add(f.second);
    } else if (kv::FileExists(path)) {
      add({path, OutputOf(path, naming.outRoot, naming), {}});
    } else {
      add({path, {}, QStringLiteral("no such file")});
    }
  }
  return items;
}

QStringList OutputClashes(const QList<Item>& items) {
  QStringList clashes;
  QHash<QString, QString> maker;
  for (const Item& item : items) {
    if (item.output.isEmpty()) continue;
    if (maker.contains(item.output))
      clashes << QStringLiteral("%1 and %2 both make %3").arg(maker[item.output], item.input, item.output);
    else
      maker.insert(item.output, item.input);
  }
  return clashes;
}

QList<Item> Shard(QList<Item> items, int k, int n) {
  std::stable_sort(items.begin(), items.end(),
                   [](const Item& a, const Item& b) { return kv::PathBytes(a.input) < kv::PathBytes(b.input); });
  QList<Item> slice;
  for (qsizetype i = k - 1; i < items.size(); i += n) slice << items[i];
  return slice;
}

bool ParseShard(const QString& text, int* k, int* n) {
  static const QRegularExpression form(QStringLiteral("^([0-9]{1,9})/([0-9]{1,9})$"));
  const QRegularExpressionMatch m = form.match(text);
  if (!m.hasMatch()) return false;
  *k = m.captured(1).toInt();
  *n = m.captured(2).toInt();
  return *k >= 1 && *k <= *n;
}

}  // namespace kvcli
