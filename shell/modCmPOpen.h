// The open-file dialog with a preview pane, used by the add-files command.
#pragma once
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace kv {

// Fixed title and flags of the preview dialog (explorer, path and file must exist,
// multiple selection, no read-only box).
inline QString PreviewDialogTitle() { return QStringLiteral("MIDIﾌｧｲﾙを開く"); }
constexpr unsigned kPreviewFlags = 0x81A04;
// File buffer of the preview dialog, in bytes.
constexpr int kPreviewBufferBytes = 256000;

// The text shown in the preview pane for the file under the cursor.
using PreviewTextProvider = std::function<QString(const QString& path)>;
// Replaces the pane's text source; pass {} for the built-in one.
void SetPreviewTextProvider(PreviewTextProvider provider);
// Built-in text: file name, size, and format/tracks/resolution when the file has a MIDI header.
QString DefaultPreviewText(const QString& path);

// The preview dialog's buffer starts as spaces: strip leading and trailing spaces, then the
// trailing NULs that close the selection.
QString CleanPreviewBuffer(const QString& buffer);
// The preview dialog's result for the chosen files (same shapes as the plain dialog).
QString ShapePreviewResult(const QStringList& files);

}  // namespace kv

// Shows the open dialog with a preview pane (multiple selection). Returns the selection,
// or an empty string on cancel.
QString OpenPreviewDialog(QWidget* owner, const QString& filter, const QString& initialDir);
