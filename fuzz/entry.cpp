// libFuzzer entry of one target; KV_FUZZ_FN names the kvfuzz function (see build.sh).
#include "targets/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return kvfuzz::KV_FUZZ_FN(data, size); }
