// One rule for every line of text that carries file names: media command strings and the
// command lines of the programs we start. Blanks separate words; "..." groups; inside or
// outside quotes, 2n backslashes before a quote give n backslashes and 2n+1 give n and a
// literal quote; "" inside quotes is a literal quote; other backslashes are literal.
#pragma once
#include <string>
#include <vector>

namespace kv {

// The words of line; false when a quote is left open (the words up to the end are still given).
bool SplitArguments(const char* line, std::vector<std::string>& words);

}  // namespace kv
