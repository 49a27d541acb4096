#include "cmdline.h"

#include <cstring>

namespace kv {

namespace {
bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
}  // namespace

bool SplitArguments(const char* s, std::vector<std::string>& out) {
  if (!s) return true;
  bool quoted = false;
  size_t i = 0, n = std::strlen(s);
  while (true) {
    while (i < n && Blank(s[i])) ++i;
    if (i >= n) break;
    std::string arg;
    quoted = false;
    while (i < n && (quoted || !Blank(s[i]))) {
      if (s[i] == '\\') {
        size_t bs = 0;
        while (i < n && s[i] == '\\') ++bs, ++i;
        if (i < n && s[i] == '"') {
          arg.append(bs / 2, '\\');
          if (bs % 2) {
            arg.push_back('"');
            ++i;
          }
        } else {
          arg.append(bs, '\\');
        }
      } else if (s[i] == '"') {
        if (quoted && i + 1 < n && s[i + 1] == '"') {
          arg.push_back('"');
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg.push_back(s[i++]);
      }
    }
    out.push_back(arg);
  }
  return !quoted;
}

}  // namespace kv
