// The source list: the MIDI files to render, in the order they were added (the same file may
// stand twice; nothing is checked on adding), and the rule that names each one's output file.
// Entries are paths as the program carries them (shell/FileName.h), so any bytes survive.
#pragma once
#include <QAbstractListModel>
#include <QStringList>

#include "midi/MIDInfo.h"

namespace kv {

class SourceList : public QAbstractListModel {
  Q_OBJECT
 public:
  using QAbstractListModel::QAbstractListModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  const QStringList& Entries() const { return m_entries; }
  QString Entry(int row) const;  // empty outside the list
  void Add(const QStringList& paths);
  void Remove(int row);
  void Clear();

  // The entry's file properties and its output WAVE path in wavePath.
  static QString OutputName(const QString& midiPath, bool titleToName, const QString& wavePath, MidiInfo* info);
  // The naming rule: the title when asked for, short enough and free of the seven characters
  // * " ' / \ : |, else the file's own name with its extension made "wav".
  static QString OutputNameFor(const QString& midiPath, const QString& title, bool titleToName,
                               const QString& wavePath);

 private:
  QStringList m_entries;
};

// A ".mid" or ".rmi" name, letter case ignored.
bool IsMidiName(const QString& path);

}  // namespace kv
