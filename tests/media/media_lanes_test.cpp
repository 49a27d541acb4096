// How a song is spread over lanes: the SoundFont's exclusive classes, which keep keys together,
// and the plan that balances channels (and the drum channel's key groups) by the time they sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "MidiFiles.h"
#include "ScratchFolder.h"
#include "exclusive_keys.h"
#include "media_test_util.h"
#include "synth_lanes.h"

using namespace kvtest;
using kv::media::ExclusiveKeyGroups;
using kv::media::KeyGroups;

namespace {

// A SoundFont's preset hydra, built zone by zone. An instrument zone has a key range, an
// exclusive class (-1: none given) and a sample (false: a global zone).
struct InstZone {
  int lo = 0, hi = 127, cls = -1;
  bool sample = true;
};
struct PresetZone {
  int lo = 0, hi = 127, instrument = 0;
};

std::string Gen(int op, int amount) { return smf::Le(uint32_t(op), 2) + smf::Le(uint32_t(amount) & 0xFFFF, 2); }
std::string Range(int lo, int hi) { return smf::Le(43, 2) + std::string(1, char(lo)) + std::string(1, char(hi)); }
std::string Name(const std::string& n) { return n + std::string(20 - n.size(), '\0'); }

std::string Hydra(const std::vector<std::vector<PresetZone>>& presets, const std::vector<std::vector<InstZone>>& instruments) {
  std::string phdr, pbag, pgen, inst, ibag, igen;
  int bags = 0, gens = 0;
  for (size_t p = 0; p <= presets.size(); ++p) {
    phdr += Name(p < presets.size() ? "P" + std::to_string(p) : "EOP") + smf::Le(uint32_t(p), 2) + smf::Le(0, 2) +
            smf::Le(uint32_t(bags), 2) + std::string(12, '\0');
    if (p == presets.size()) break;
    for (const PresetZone& z : presets[p]) {
      pbag += smf::Le(uint32_t(gens), 2) + smf::Le(0, 2);
      pgen += Range(z.lo, z.hi) + Gen(41, z.instrument);
      gens += 2;
      ++bags;
    }
  }
  pbag += smf::Le(uint32_t(gens), 2) + smf::Le(0, 2);
  pgen += Gen(0, 0);
  bags = gens = 0;
  for (size_t i = 0; i <= instruments.size(); ++i) {
    inst += Name(i < instruments.size() ? "I" + std::to_string(i) : "EOI") + smf::Le(uint32_t(bags), 2);
    if (i == instruments.size()) break;
    for (const InstZone& z : instruments[i]) {
      ibag += smf::Le(uint32_t(gens), 2) + smf::Le(0, 2);
      igen += Range(z.lo, z.hi);
      ++gens;
      if (z.cls >= 0) igen += Gen(57, z.cls), ++gens;
      if (z.sample) igen += Gen(53, 0), ++gens;
      ++bags;
    }
  }
  ibag += smf::Le(uint32_t(gens), 2) + smf::Le(0, 2);
  igen += Gen(0, 0);
  return smf::RiffChunk("phdr", phdr) + smf::RiffChunk("pbag", pbag) + smf::RiffChunk("pmod", std::string(10, '\0')) +
         smf::RiffChunk("pgen", pgen) + smf::RiffChunk("inst", inst) + smf::RiffChunk("ibag", ibag) +
         smf::RiffChunk("imod", std::string(10, '\0')) + smf::RiffChunk("igen", igen);
}

kv::media::SmfEvent Ev(int status, int data1, int data2) {
  kv::media::SmfEvent e;
  e.status = uint8_t(status);
  e.data1 = uint8_t(data1);
  e.data2 = uint8_t(data2);
  return e;
}

std::string SoundFont(const std::string& hydra) {
  const std::string body = "sfbk" + smf::RiffChunk("LIST", "INFO" + smf::RiffChunk("ifil", smf::Le(2, 2) + smf::Le(1, 2))) +
                           smf::RiffChunk("LIST", "sdta" + smf::RiffChunk("smpl", std::string(92, '\0'))) +
                           smf::RiffChunk("LIST", "pdta" + hydra);
  return "RIFF" + smf::Le(uint32_t(body.size()), 4) + body;
}

// The groups as "key-key-key" lists of the keys that are not alone.
std::vector<std::string> Together(const KeyGroups& g) {
  std::map<int, std::string> groups;
  for (int k = 0; k < 128; ++k)
    if (g.first[size_t(k)] != k) {
      std::string& s = groups[g.first[size_t(k)]];
      if (s.empty()) s = std::to_string(g.first[size_t(k)]);
      s += "-" + std::to_string(k);
    }
  std::vector<std::string> out;
  for (const auto& [first, s] : groups) out.push_back(s);
  return out;
}

}  // namespace

// Keys of one exclusive class stay together: within a zone's key range as the preset zone
// narrows it, with the class a global zone gives, across presets that use the class number.
TEST(SynthLanes, ExclusiveClassesKeepTheirKeysTogether) {
  using V = std::vector<std::string>;
  const struct {
    const char* name;
    std::vector<std::vector<PresetZone>> presets;
    std::vector<std::vector<InstZone>> instruments;
    V together;
  } rows[] = {
      {"hi-hats of a kit", {{{}}}, {{{36, 36, 0}, {42, 42, 1}, {44, 44, 1}, {46, 46, 1}, {49, 49, 2}}}, V{"42-44-46"}},
      {"class of the global zone", {{{}}}, {{{0, 127, 5, false}, {71, 71}, {72, 72}, {73, 73, 0}}}, V{"71-72"}},
      {"preset zone narrows the keys", {{{40, 43, 0}}}, {{{30, 50, 2}}}, V{"40-41-42-43"}},
      {"one class number in two presets", {{{0, 127, 0}}, {{0, 127, 1}}}, {{{80, 80, 3}}, {{81, 81, 3}}}, V{"80-81"}},
      {"no classes", {{{}}}, {{{0, 127, 0}}}, V{}},
  };
  for (const auto& r : rows) {
    const std::string hydra = Hydra(r.presets, r.instruments);
    const KeyGroups g = ExclusiveKeyGroups(reinterpret_cast<const unsigned char*>(hydra.data()), hydra.size());
    EXPECT_TRUE(g.known) << r.name;
    EXPECT_EQ(Together(g), r.together) << r.name;
  }

  // From files: a SoundFont of its own, one inside an RMID (at the offset of its RIFF chunk), a
  // cut one (unknown: nothing may be split), and TimGM6mb's drum kit.
  TempDir dir;
  const std::string font = SoundFont(Hydra({{{}}}, {{{42, 42, 1}, {46, 46, 1}}}));
  writeText(dir.path() + "/kit.sf2", font);
  writeText(dir.path() + "/cut.sf2", font.substr(0, font.size() - 30));
  const std::string rmid = smf::Rmid(smf::Notes(1), font);
  writeText(dir.path() + "/song.rmi", rmid);
  EXPECT_EQ(Together(ExclusiveKeyGroups(dir.path() + "/kit.sf2")), V{"42-46"});
  EXPECT_EQ(Together(ExclusiveKeyGroups(dir.path() + "/song.rmi", rmid.find("RIFF", 4))), V{"42-46"});
  EXPECT_FALSE(ExclusiveKeyGroups(dir.path() + "/cut.sf2").known);
  EXPECT_FALSE(ExclusiveKeyGroups(dir.path() + "/missing.sf2").known);
  EXPECT_EQ(Together(ExclusiveKeyGroups(kSoundFont)), (V{"42-44-46", "71-72", "73-74", "78-79", "80-81", "86-87"}));
  const KeyGroups both = kv::media::Join(ExclusiveKeyGroups(dir.path() + "/kit.sf2"), ExclusiveKeyGroups(kSoundFont));
  EXPECT_EQ(Together(both), (V{"42-44-46", "71-72", "73-74", "78-79", "80-81", "86-87"}));
  EXPECT_FALSE(kv::media::Join(both, KeyGroups{}).known);
}

// The plan: units by the time their notes sound, heaviest first onto the least loaded lane; a
// channel heavier than a lane's share split by key group, unless something links its notes.
TEST(SynthLanes, PlanBalancesTheTimeNotesSound) {
  TempDir dir;
  auto load = [&](const std::string& bytes) {
    writeText(dir.path() + "/song.mid", bytes);
    kv::media::Song song;
    std::string error;
    EXPECT_TRUE(kv::media::LoadSmf(dir.path() + "/song.mid", song, error)) << error;
    return song;
  };
  const KeyGroups groups = ExclusiveKeyGroups(kSoundFont);
  ASSERT_TRUE(groups.known);
  const kv::media::Song band = load(Band({0, 1, 2, 9}));

  // Seconds of notes in the band: piano 14.7 (six keys, 2.45 each), drums 9.7 (hi-hats 6.5,
  // kick and snare 1.6 each), bass 6.1, strings 4.6. On two lanes no channel is over its share.
  const kv::media::LanePlan two = PlanLanes(band, groups, 2);
  EXPECT_EQ(two.lanes, (std::array<uint32_t, 16>{1, 2, 1, 1, 1, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(std::count(two.split.begin(), two.split.end(), true), 0);
  // Bass and drums: the drums (9.7 of 15.8) are split, the hi-hats with the snare.
  const kv::media::LanePlan drums = PlanLanes(load(Band({1, 9})), groups, 2);
  EXPECT_TRUE(drums.split[9]);
  EXPECT_FALSE(drums.split[1]);
  EXPECT_EQ(drums.lanes[1], 2u);
  EXPECT_EQ(drums.key[9][42], 0);
  EXPECT_EQ(drums.key[9][44], 0) << "the hi-hat pedal, never played, stays with its class";
  EXPECT_EQ(drums.key[9][46], 0) << "the open hi-hat with the closed one";
  EXPECT_EQ(drums.key[9][38], 0);
  EXPECT_EQ(drums.key[9][36], 1);
  EXPECT_EQ(drums.key[9][50], 0) << "a key never played: the channel's first lane";
  // Piano and drums on three lanes: both are split.
  const kv::media::LanePlan three = PlanLanes(load(Band({0, 9})), groups, 3);
  EXPECT_TRUE(three.split[0] && three.split[9]);
  EXPECT_EQ(three.lanes[0], 6u);
  EXPECT_EQ(three.lanes[9], 3u);
  const std::map<int, int> piano = {{60, 1}, {64, 2}, {67, 1}, {72, 2}, {76, 1}, {79, 2}},
                           kit = {{36, 0}, {38, 1}, {42, 0}, {46, 0}};
  for (const auto& [key, lane] : piano) EXPECT_EQ(three.key[0][size_t(key)], lane) << "piano " << key;
  for (const auto& [key, lane] : kit) EXPECT_EQ(three.key[9][size_t(key)], lane) << "drums " << key;
  EXPECT_EQ(three.LanesOf(Ev(0x99, 46, 80)), 1u);
  EXPECT_EQ(three.LanesOf(Ev(0x80, 64, 0)), 4u);
  EXPECT_EQ(three.LanesOf(Ev(0xA0, 76, 9)), 2u);
  EXPECT_EQ(three.LanesOf(Ev(0xB9, 7, 100)), 3u) << "a controller of a split channel goes to all its lanes";
  EXPECT_EQ(three.LanesOf(Ev(0xE0, 0, 64)), 6u);
  EXPECT_EQ(three.LanesOf(Ev(0xC1, 33, 0)), 1u) << "a silent channel: lane 0";
  EXPECT_EQ(three.LanesOf(Ev(0xF0, 0, 0)), ~0u);

  // One lane; SoundFont classes unknown; portamento or legato on the drums: nothing is split.
  auto linked = [&](int controller) {
    smf::Track t;
    t.Event(0, {0xB9, controller, 127});
    t.Event(0, {0x99, 36, 100});
    t.Event(10, {0x99, 42, 100});
    t.Event(20, {0x90, 60, 100});
    t.End(96);
    return load(smf::File(0, 96, {t}));
  };
  const struct {
    const char* name;
    kv::media::Song song;
    KeyGroups groups;
    int lanes;
  } whole[] = {{"one lane", band, groups, 1},
               {"classes unknown", band, KeyGroups{}, 4},
               {"portamento on the drums", linked(65), groups, 4},
               {"legato on the drums", linked(68), groups, 4},
               {"mono mode on the drums", linked(126), groups, 4}};
  for (const auto& r : whole) {
    const kv::media::LanePlan p = PlanLanes(r.song, r.groups, r.lanes);
    EXPECT_FALSE(p.split[9]) << r.name;
    EXPECT_EQ(std::popcount(p.lanes[9]), 1) << r.name;
    EXPECT_EQ(p.LanesOf(Ev(0x99, 42, 80)), p.LanesOf(Ev(0x99, 36, 80))) << r.name;
  }
  EXPECT_TRUE(PlanLanes(linked(64), groups, 4).split[9]) << "the sustain pedal links nothing";
  EXPECT_EQ(PlanLanes(band, groups, 1).lanes, (std::array<uint32_t, 16>{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));

  // One 10 s chord note against 20 and 10 short notes (0.1 s, each with its 0.3 s release): by
  // the time they sound the long note is a lane's worth alone; by note count it would share one.
  smf::Track t;
  t.Event(0, {0x90, 48, 100});
  for (uint32_t i = 0; i < 20; ++i) {
    t.Event(i * 96, {0x91, 60, 100});
    if (i < 10) t.Event(i * 96, {0x92, 64, 100});
    t.Event(i * 96 + 19, {0x81, 60, 0});
    if (i < 10) t.Event(i * 96 + 19, {0x82, 64, 0});
  }
  t.Event(1920, {0x80, 48, 0});
  t.End(1920);
  const kv::media::LanePlan held = PlanLanes(load(smf::File(0, 96, {t})), groups, 2);
  EXPECT_EQ(held.lanes[0], 1u);
  EXPECT_EQ(held.lanes[1], 2u);
  EXPECT_EQ(held.lanes[2], 2u);
  EXPECT_EQ(std::count(held.split.begin(), held.split.end(), true), 0) << "none over its share";
}
