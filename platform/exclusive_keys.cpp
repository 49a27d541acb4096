#include "exclusive_keys.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <numeric>
#include <vector>

#include "byte_order.h"
#include "owned.h"

namespace kv::media {
namespace {

constexpr uint16_t kInstrument = 41;
constexpr uint16_t kKeyRange = 43;
constexpr uint16_t kSampleId = 53;
constexpr uint16_t kExclusiveClass = 57;
constexpr uint32_t kMaxHydra = 64u << 20;  // larger: not read, no key split off

struct Chunk {
  const unsigned char* data = nullptr;
  size_t count = 0;  // records
};

struct Range {
  int lo = 0, hi = 127;
  Range And(const Range& o) const { return {std::max(lo, o.lo), std::min(hi, o.hi)}; }
};

struct Groups {
  std::array<uint8_t, 128> parent;
  Groups() { std::iota(parent.begin(), parent.end(), uint8_t(0)); }
  int Find(int k) {
    while (parent[size_t(k)] != k) k = parent[size_t(k)] = parent[size_t(parent[size_t(k)])];
    return k;
  }
  void Union(int a, int b) {
    a = Find(a);
    b = Find(b);
    if (a != b) parent[size_t(std::max(a, b))] = uint8_t(std::min(a, b));
  }
  KeyGroups Result() {
    KeyGroups g;
    g.known = true;
    for (int k = 0; k < 128; ++k) g.first[size_t(k)] = uint8_t(Find(k));
    return g;
  }
};

// The generators of zone `z` of a bag list: [bag[z].gen, bag[z + 1].gen).
template <class F>
bool EachGen(const Chunk& bag, const Chunk& gen, size_t z, F f) {
  if (z + 1 >= bag.count) return false;
  const size_t from = Le16(bag.data + 4 * z), to = Le16(bag.data + 4 * (z + 1));
  if (from > to || to > gen.count) return false;
  for (size_t g = from; g < to; ++g) f(Le16(gen.data + 4 * g), gen.data + 4 * g + 2);
  return true;
}

}  // namespace

KeyGroups ExclusiveKeyGroups(const unsigned char* hydra, size_t size) {
  std::map<std::string, Chunk> chunks;
  const std::map<std::string, size_t> record = {{"phdr", 38}, {"pbag", 4}, {"pgen", 4}, {"inst", 22}, {"ibag", 4}, {"igen", 4}};
  for (size_t at = 0; at + 8 <= size;) {
    const uint32_t len = Le32(hydra + at + 4);
    if (len > size - at - 8) return {};
    const std::string id(reinterpret_cast<const char*>(hydra + at), 4);
    if (auto r = record.find(id); r != record.end()) chunks[id] = {hydra + at + 8, len / r->second};
    at += 8 + size_t(len) + (len & 1);
  }
  if (chunks.size() != record.size()) return {};
  const Chunk &phdr = chunks["phdr"], &pbag = chunks["pbag"], &pgen = chunks["pgen"];
  const Chunk &inst = chunks["inst"], &ibag = chunks["ibag"], &igen = chunks["igen"];
  // Each class number's keys, over every preset zone that plays an instrument zone with it.
  std::map<int, std::vector<Range>> classes;
  auto instrument = [&](size_t i, Range keys) -> bool {
    if (i + 1 >= inst.count) return false;
    const size_t from = Le16(inst.data + 22 * i + 20), to = Le16(inst.data + 22 * (i + 1) + 20);
    int global = 0;  // a first zone without a sample sets the class of the zones that do not
    for (size_t z = from; z < to; ++z) {
      Range r;
      int cls = -1;
      bool sample = false;
      if (!EachGen(ibag, igen, z, [&](uint16_t op, const unsigned char* a) {
            if (op == kKeyRange) r = {a[0], a[1]};
            if (op == kExclusiveClass) cls = Le16(a);
            if (op == kSampleId) sample = true;
          }))
        return false;
      if (!sample) {
        if (z == from && cls >= 0) global = cls;
        continue;
      }
      if (cls < 0) cls = global;
      const Range k = keys.And(r);
      if (cls != 0 && k.lo <= k.hi) classes[cls].push_back(k);
    }
    return true;
  };
  for (size_t p = 0; p + 1 < phdr.count; ++p) {
    const size_t from = Le16(phdr.data + 38 * p + 24), to = Le16(phdr.data + 38 * (p + 1) + 24);
    for (size_t z = from; z < to; ++z) {
      Range r;
      int target = -1;
      if (!EachGen(pbag, pgen, z, [&](uint16_t op, const unsigned char* a) {
            if (op == kKeyRange) r = {a[0], a[1]};
            if (op == kInstrument) target = Le16(a);
          }))
        return {};
      if (target >= 0 && !instrument(size_t(target), r)) return {};
    }
  }
  Groups groups;
  for (const auto& [cls, ranges] : classes) {
    int first = -1;
    for (const Range& r : ranges)
      for (int k = std::max(r.lo, 0); k <= std::min(r.hi, 127); ++k) {
        if (first < 0) first = k;
        groups.Union(first, k);
      }
  }
  return groups.Result();
}

KeyGroups ExclusiveKeyGroups(const std::string& path, uint64_t offset) {
  kv::UniqueFile f(std::fopen(path.c_str(), "rb"));
  if (!f || ::fseeko(f.get(), 0, SEEK_END) != 0) return {};
  const off_t fileSize = ::ftello(f.get());
  if (::fseeko(f.get(), off_t(offset), SEEK_SET) != 0) return {};
  unsigned char head[12];
  if (std::fread(head, 1, 12, f.get()) != 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "sfbk", 4) != 0)
    return {};
  // Only the hydra is read: the sample data before it is skipped.
  for (;;) {
    unsigned char chunk[12];
    if (std::fread(chunk, 1, 8, f.get()) != 8) return {};
    const uint32_t len = Le32(chunk + 4);
    off_t skip = off_t(len) + off_t(len & 1);
    if (std::memcmp(chunk, "LIST", 4) == 0) {
      if (len < 4 || std::fread(chunk + 8, 1, 4, f.get()) != 4) return {};
      if (std::memcmp(chunk + 8, "pdta", 4) == 0) {
        // A chunk longer than what is left of the file is a damaged one: nothing is allocated for it.
        if (len - 4 > kMaxHydra || off_t(len - 4) > fileSize - ::ftello(f.get())) return {};
        std::vector<unsigned char> hydra(len - 4);
        if (std::fread(hydra.data(), 1, hydra.size(), f.get()) != hydra.size()) return {};
        return ExclusiveKeyGroups(hydra.data(), hydra.size());
      }
      skip -= 4;
    }
    if (::fseeko(f.get(), skip, SEEK_CUR) != 0) return {};
  }
}

KeyGroups Join(const KeyGroups& a, const KeyGroups& b) {
  if (!a.known || !b.known) return {};
  Groups g;
  for (int k = 0; k < 128; ++k) {
    g.Union(k, a.first[size_t(k)]);
    g.Union(k, b.first[size_t(k)]);
  }
  return g.Result();
}

}  // namespace kv::media
