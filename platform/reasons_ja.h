// The media and system layer explains failures in English (for the terminal); a window shows
// the same reasons in Japanese.
#pragma once
#include <string>

namespace kv {

// `text` with every reason of this layer it contains put into Japanese; paths and other text stay.
std::string JapaneseReasons(const std::string& text);

}  // namespace kv
