// The style bits of a message (Visual Basic MsgBox values): what the engine and the encoders
// attach to the messages they send; the window decides how to show them.
#pragma once

namespace kv {

enum MsgStyle : int {
  vbOKOnly = 0,
  vbCritical = 16,
  vbQuestion = 32,
  vbExclamation = 48,
  vbInformation = 64,
};

}  // namespace kv
