#include "song_soundfont.h"

#include <dirent.h>
#include <fluidsynth.h>
#include <strings.h>

#include <vector>

#include "media_internal.h"
#include "owned.h"
#include "smf_reader.h"

namespace kv {
namespace {

// The first file of the folder named stem + each extension in turn, letter case ignored.
std::string FindBeside(const std::string& folder, const std::string& stem) {
  UniqueDir dir(opendir(folder.empty() ? "/" : folder.c_str()));
  if (!dir) return "";
  std::vector<std::string> names;
  while (dirent* d = readdir(dir.get())) names.push_back(d->d_name);
  for (const char* ext : {".sf2", ".sf3"}) {
    const std::string wanted = stem + ext;
    for (const std::string& n : names)
      if (strcasecmp(n.c_str(), wanted.c_str()) == 0) return folder + "/" + n;
  }
  return "";
}

}  // namespace

std::string SongSoundFont::Name() const { return kind == Kind::Embedded ? path + " (embedded)" : path; }

SongSoundFont ChooseSoundFont(const std::string& songPath, const SystemSetup& setup) {
  SongSoundFont sf;
  sf.configured = ResolveSoundFont(setup);
  sf.path = sf.configured;
  const media::RmidParts rmid = media::ReadRmidParts(songPath);
  if (rmid.bankSize > 0) {
    sf.kind = SongSoundFont::Kind::Embedded;
    sf.path = songPath;
    sf.offset = rmid.bankOffset;
    sf.size = rmid.bankSize;
    sf.bankShift = rmid.bankShift;
    return sf;
  }
  if (rmid.dls)
    sf.notice = songPath + " carries a DLS bank, which FluidSynth cannot read; it plays with another SoundFont.";
  const size_t slash = songPath.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : songPath.substr(0, slash);
  std::string name = slash == std::string::npos ? songPath : songPath.substr(slash + 1);
  if (const size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.resize(dot);
  const size_t up = folder.rfind('/');
  const std::string folderName = up == std::string::npos ? folder : folder.substr(up + 1);
  media::SilenceFluid();
  for (auto [kind, stem] : {std::pair{SongSoundFont::Kind::Beside, name}, {SongSoundFont::Kind::Folder, folderName}}) {
    if (stem.empty() || stem == "." || stem == "..") continue;
    const std::string found = FindBeside(folder, stem);
    if (found.empty()) continue;
    if (!fluid_is_soundfont(found.c_str())) {
      if (sf.notice.empty()) sf.notice = found + " is not a SoundFont; it is passed over.";
      continue;
    }
    sf.kind = kind;
    sf.path = found;
    return sf;
  }
  return sf;
}

}  // namespace kv
