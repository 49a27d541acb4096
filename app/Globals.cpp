#include "app/Globals.h"

namespace kv {
Globals& G() {
  static Globals g;
  return g;
}
}  // namespace kv
