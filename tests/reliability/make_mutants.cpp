// make_mutants OUTDIR COUNT GOOD.mid...: writes COUNT damaged MIDI files made from the good
// ones into OUTDIR, the same files on every run (bench/bad_inputs.sh converts all of them).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Mutants.h"
#include "ScratchFolder.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: make_mutants OUTDIR COUNT GOOD.mid...\n");
    return 2;
  }
  const std::string out = argv[1];
  const long count = std::strtol(argv[2], nullptr, 10);
  std::vector<std::string> goods;
  for (int i = 3; i < argc; ++i) {
    goods.push_back(kvtest::readBytes(argv[i]));
    if (goods.back().find("MThd") == std::string::npos) {
      std::fprintf(stderr, "make_mutants: %s: not a MIDI file\n", argv[i]);
      return 1;
    }
  }
  for (const auto& m : kvtest::MakeMutants(goods, size_t(count > 0 ? count : 0))) {
    kvtest::writeText(out + "/" + m.name, m.bytes);
    std::printf("%s\t%s\n", m.name.c_str(), m.kind.c_str());
  }
  return 0;
}
