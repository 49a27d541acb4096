#include "media_internal.h"
#include "winmm.h"

KV_API void kvMediaClearLastError(void) { kv::media::SetLastMediaError(std::string()); }
