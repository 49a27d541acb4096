// The window program's answer to SIGINT, SIGTERM and SIGHUP: its window is closed as if by the
// user, so shut-down runs (settings written, an unsaved recording's temporary file removed).
#pragma once

class QWidget;

namespace kv {
void CloseOnEndSignals(QWidget* window);
}
