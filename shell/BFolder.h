// The folder browser that opens with a chosen folder selected.
#pragma once
#include <QString>

class QWidget;

// The folder the browser preselects; set by every BrowseForFolder call before it opens.
extern QString BrowseStartFolder;

// Shows the folder browser with startFolder selected. Returns the chosen folder without a
// trailing "/" (the root stays "/"), or an empty string on cancel or when the path does not
// fit the 260-byte path buffer.
QString BrowseForFolder(QWidget* owner, const QString& title, const QString& startFolder, unsigned flags);

namespace kv {
// The folder path as the browser reports it: trailing "/" removed except for the root;
// empty when it is empty or too long for a 260-byte buffer.
QString ShapeFolderResult(const QString& path);
}  // namespace kv
