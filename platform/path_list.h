// Folder lists such as $PATH, split once for every lookup that walks them.
#pragma once
#include <cstdlib>
#include <string>
#include <vector>

namespace kv::platform {

// The non-empty entries of a list separated by any of seps.
inline std::vector<std::string> SplitPathList(const std::string& list, const char* seps = ":") {
  std::vector<std::string> dirs;
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t sep = list.find_first_of(seps, pos);
    if (sep == std::string::npos) sep = list.size();
    if (sep > pos) dirs.push_back(list.substr(pos, sep - pos));
    pos = sep + 1;
  }
  return dirs;
}

inline std::vector<std::string> PathDirs() {
  const char* path = std::getenv("PATH");
  return SplitPathList(path ? path : "");
}

}  // namespace kv::platform
