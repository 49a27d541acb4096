#include "fuzz_targets.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace kvfuzz {

namespace {
std::string g_dir;
void RemoveScratch() {
  std::error_code ec;
  if (!g_dir.empty()) std::filesystem::remove_all(g_dir, ec);
}
}  // namespace

const std::string& ScratchDir() {
  if (g_dir.empty()) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kvfuzz-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) Fail("cannot create a scratch folder");
    g_dir = tmpl;
    std::atexit(RemoveScratch);
  }
  return g_dir;
}

bool WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

}  // namespace kvfuzz
