#include "midi/SourceList.h"

#include <QFileInfo>

#include "shell/Dir.h"

namespace kv {

int SourceList::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(m_entries.size()); }

QVariant SourceList::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= m_entries.size()) return {};
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return m_entries[index.row()];
  return {};
}

QString SourceList::Entry(int row) const { return row >= 0 && row < m_entries.size() ? m_entries[row] : QString(); }

void SourceList::Add(const QStringList& paths) {
  if (paths.isEmpty()) return;
  beginInsertRows(QModelIndex(), int(m_entries.size()), int(m_entries.size() + paths.size() - 1));
  m_entries += paths;
  endInsertRows();
}

void SourceList::Remove(int row) {
  if (row < 0 || row >= m_entries.size()) return;
  beginRemoveRows(QModelIndex(), row, row);
  m_entries.removeAt(row);
  endRemoveRows();
}

void SourceList::Clear() {
  beginResetModel();
  m_entries.clear();
  endResetModel();
}

QString SourceList::OutputName(const QString& midiPath, bool titleToName, const QString& wavePath, MidiInfo* info) {
  const MidiInfo I = ReadMidiInfo(midiPath);
  if (info) *info = I;
  return OutputNameFor(midiPath, I.Title.isEmpty() ? FileTitleOf(midiPath) : I.Title, titleToName, wavePath);
}

QString SourceList::OutputNameFor(const QString& midiPath, const QString& title, bool titleToName,
                                  const QString& wavePath) {
  static const QString forbidden = QStringLiteral("*\"'/\\:|");
  // At most 125 characters: the length is counted as two bytes a character, against 251.
  bool useTitle = titleToName && (wavePath + "/" + title).size() * 2 <= 251;
  for (QChar c : forbidden) useTitle = useTitle && !title.contains(c);
  if (useTitle) return wavePath + "/" + title + ".wav";
  // The file's own name as the directory lists it; its extension becomes "wav".
  QString N = Dir(midiPath);
  if (N.isEmpty()) N = QFileInfo(midiPath).fileName();
  return wavePath + "/" + N.left(N.size() - 3) + "wav";
}

bool IsMidiName(const QString& path) {
  const QString ext = path.right(4).toLower();
  return ext == ".mid" || ext == ".rmi";
}

}  // namespace kv
