#include "shell/DialogHook.h"

namespace kv {

namespace {
DialogHook& Hook() {
  static DialogHook h;
  return h;
}
}  // namespace

void SetDialogHook(DialogHook hook) { Hook() = std::move(hook); }
const DialogHook& GetDialogHook() { return Hook(); }

}  // namespace kv
