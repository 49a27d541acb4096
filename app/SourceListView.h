// lstSource: the view of the source list, with the list box's row calls the commands use.
#pragma once
#include <QListView>

class SourceListView : public QListView {
  Q_OBJECT
 public:
  using QListView::QListView;
  int count() const { return model() ? model()->rowCount() : 0; }
  // The selected entry (ListIndex), -1 when none.
  int currentRow() const { return currentIndex().isValid() ? currentIndex().row() : -1; }
  // Selects the entry (-1: none); a change raises currentRowChanged as a click does.
  void setCurrentRow(int row) {
    if (!model()) return;
    const QModelIndex i = model()->index(row, 0);
    if (i.isValid()) setCurrentIndex(i);
    else selectionModel()->clear();
  }

 signals:
  void currentRowChanged(int row);

 protected:
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override {
    QListView::currentChanged(current, previous);
    emit currentRowChanged(current.isValid() ? current.row() : -1);
  }
};
