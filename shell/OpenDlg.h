// The plain open-file dialog: one call, one plain string back.
#pragma once
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;
class QFileDialog;

namespace kv {

// Open-dialog flag bits (the values the callers pass, as on Windows).
constexpr unsigned kOfnHideReadOnly = 0x4;
constexpr unsigned kOfnAllowMultiSelect = 0x200;
constexpr unsigned kOfnPathMustExist = 0x800;
constexpr unsigned kOfnFileMustExist = 0x1000;
constexpr unsigned kOfnExplorer = 0x80000;
// Flags of every plain-dialog caller: explorer, must exist, multiple selection, no read-only box.
constexpr unsigned kOfnCallerFlags = 528900;  // 0x81204

// File buffer of the plain dialog, in bytes including the closing NULs.
constexpr int kOpenBufferBytes = 256;

// "display" NUL "pattern;pattern" NUL ... (trailing NUL optional) -> Qt name filters
// "display (p p)", patterns matched without regard to letter case. Incomplete pairs are dropped.
QStringList FilterToNameFilters(const QString& filter);

// The string a dialog returns for the chosen files: one file -> its full path; several ->
// folder NUL name NUL name (no trailing NUL). Empty when nothing was chosen or when the
// selection plus its closing NULs does not fit maxBytes bytes of UTF-8.
QString ShapeOpenResult(const QStringList& files, int maxBytes);

// Shows the open dialog (or asks the dialog hook, passing kind) and returns the chosen full
// paths, empty on cancel. extra may add widgets to the dialog before it opens.
QStringList RunOpenDialog(QWidget* owner, const QString& kind, const QString& initialDir, const QString& filter,
                          unsigned flags, const QString& title,
                          const std::function<void(QFileDialog&)>& extra = {});

// After a completed dialog the process's current directory is the chosen files' folder.
void ChangeToSelectionFolder(const QStringList& files);

}  // namespace kv

// Shows the plain open dialog. Returns the selection (see ShapeOpenResult, 256-byte buffer),
// or an empty string on cancel or when the selection does not fit.
QString OpenFileDialog(QWidget* owner, const QString& initialDir, const QString& filter, unsigned flags,
                       const QString& title);
