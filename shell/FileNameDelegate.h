// Shows the file names of a list as DisplayName reads them; the entries keep their bytes.
#pragma once
#include <QStyledItemDelegate>

#include "shell/FileName.h"

namespace kv {

class FileNameDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QString displayText(const QVariant& value, const QLocale& locale) const override {
    return DisplayName(QStyledItemDelegate::displayText(value, locale));
  }
};

}  // namespace kv
