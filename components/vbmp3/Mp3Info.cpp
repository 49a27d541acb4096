#include "Mp3Info.h"

#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <vector>

#include "owned.h"

namespace kv::mp3 {

namespace {

struct Header {
  int version = 0;  // 1, 2 or 25 (MPEG 2.5)
  int bitrate = 0;  // kbit/s
  int rate = 0;
  int channels = 0;
  int length = 0;   // bytes
  int samples = 0;  // per frame
  int sideInfo = 0;
};

bool parseHeader(const unsigned char* b, Header* h) {
  if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return false;
  int ver = (b[1] >> 3) & 3, layer = (b[1] >> 1) & 3;
  int bri = b[2] >> 4, sri = (b[2] >> 2) & 3, pad = (b[2] >> 1) & 1;
  if (ver == 1 || layer != 1 || bri == 0 || bri == 15 || sri == 3) return false;
  static const int br1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  static const int br2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  static const int sr[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
  bool mpeg1 = ver == 3;
  h->version = mpeg1 ? 1 : (ver == 2 ? 2 : 25);
  h->bitrate = mpeg1 ? br1[bri] : br2[bri];
  h->rate = sr[mpeg1 ? 0 : (ver == 2 ? 1 : 2)][sri];
  h->channels = (b[3] >> 6) == 3 ? 1 : 2;
  h->samples = mpeg1 ? 1152 : 576;
  h->length = (mpeg1 ? 144000 : 72000) * h->bitrate / h->rate + pad;
  h->sideInfo = mpeg1 ? (h->channels == 1 ? 17 : 32) : (h->channels == 1 ? 9 : 17);
  return true;
}

uint32_t be32(const unsigned char* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }
uint32_t syncsafe(const unsigned char* p) { return (uint32_t(p[0] & 0x7F) << 21) | ((p[1] & 0x7F) << 14) | ((p[2] & 0x7F) << 7) | (p[3] & 0x7F); }

bool validUtf8(const std::string& s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char c = s[i];
    size_t k = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 9;
    if (k == 9 || i + k >= n) return false;
    for (size_t j = 1; j <= k; ++j)
      if ((static_cast<unsigned char>(s[i + j]) & 0xC0) != 0x80) return false;
    i += k + 1;
  }
  return true;
}

std::string latin1ToUtf8(const std::string& s) {
  std::string o;
  for (unsigned char c : s) {
    if (c < 0x80) o += char(c);
    else { o += char(0xC0 | (c >> 6)); o += char(0x80 | (c & 0x3F)); }
  }
  return o;
}

bool convert(const char* from, const std::string& in, std::string* out) {
  iconv_t cd = iconv_open("UTF-8", from);
  if (cd == (iconv_t)-1) return false;
  const kv::Owned<void, iconv_close> owner(cd);
  std::string buf(in.size() * 4 + 16, '\0');
  char* ip = const_cast<char*>(in.data());
  size_t il = in.size(), ol = buf.size();
  char* op = buf.data();
  size_t r = iconv(cd, &ip, &il, &op, &ol);
  if (r == (size_t)-1) return false;
  buf.resize(buf.size() - ol);
  *out = buf;
  return true;
}

void utf16ToUtf8(const unsigned char* p, size_t n, bool bigEndian, std::string* out) {
  std::string o;
  for (size_t i = 0; i + 1 < n; i += 2) {
    uint32_t u = bigEndian ? (p[i] << 8 | p[i + 1]) : (p[i + 1] << 8 | p[i]);
    if (u == 0) break;
    if (u >= 0xD800 && u < 0xDC00 && i + 3 < n) {
      uint32_t lo = bigEndian ? (p[i + 2] << 8 | p[i + 3]) : (p[i + 3] << 8 | p[i + 2]);
      u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
      i += 2;
    }
    if (u < 0x80) o += char(u);
    else if (u < 0x800) { o += char(0xC0 | (u >> 6)); o += char(0x80 | (u & 0x3F)); }
    else if (u < 0x10000) { o += char(0xE0 | (u >> 12)); o += char(0x80 | ((u >> 6) & 0x3F)); o += char(0x80 | (u & 0x3F)); }
    else { o += char(0xF0 | (u >> 18)); o += char(0x80 | ((u >> 12) & 0x3F)); o += char(0x80 | ((u >> 6) & 0x3F)); o += char(0x80 | (u & 0x3F)); }
  }
  *out = o;
}

// An ID3v2 text frame body: encoding byte then text.
std::string textFrame(const unsigned char* p, size_t n) {
  if (n < 1) return {};
  std::string out;
  const unsigned char* t = p + 1;
  size_t tn = n - 1;
  switch (p[0]) {
    case 1:
      if (tn >= 2 && t[0] == 0xFE && t[1] == 0xFF) utf16ToUtf8(t + 2, tn - 2, true, &out);
      else if (tn >= 2 && t[0] == 0xFF && t[1] == 0xFE) utf16ToUtf8(t + 2, tn - 2, false, &out);
      else utf16ToUtf8(t, tn, false, &out);
      return out;
    case 2: utf16ToUtf8(t, tn, true, &out); return out;
    case 3: out.assign(reinterpret_cast<const char*>(t), strnlen(reinterpret_cast<const char*>(t), tn)); return out;
    default: return legacyToUtf8(std::string(reinterpret_cast<const char*>(t), strnlen(reinterpret_cast<const char*>(t), tn)));
  }
}

void parseId3v2(const std::vector<unsigned char>& tag, int major, Mp3FileInfo* info) {
  size_t pos = 0;
  const bool v22 = major == 2;
  const size_t hdr = v22 ? 6 : 10;
  while (pos + hdr <= tag.size()) {
    const unsigned char* h = tag.data() + pos;
    if (h[0] == 0) break;  // padding
    std::string id(reinterpret_cast<const char*>(h), v22 ? 3 : 4);
    size_t size = v22 ? (size_t(h[3]) << 16 | h[4] << 8 | h[5]) : (major == 4 ? syncsafe(h + 4) : be32(h + 4));
    if (size > tag.size() - pos - hdr) break;
    const unsigned char* body = h + hdr;
    bool compressedOrEncrypted = !v22 && (major == 4 ? (h[9] & 0x0F) : (h[9] & 0xC0));
    if (!compressedOrEncrypted) {
      if ((id == "TIT2" || id == "TT2") && info->title.empty()) info->title = textFrame(body, size);
      if ((id == "TPE1" || id == "TP1") && info->artist.empty()) info->artist = textFrame(body, size);
    }
    pos += hdr + size;
  }
}

std::string trimTag(const char* p, size_t n) {
  std::string s(p, strnlen(p, n));
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

class File {
public:
  explicit File(const std::string& path) : f_(std::fopen(path.c_str(), "rb")) {
    if (f_ && std::fseek(f_.get(), 0, SEEK_END) == 0) size_ = std::ftell(f_.get());
  }
  bool ok() const { return f_ && size_ > 0; }
  long size() const { return size_; }
  bool read(long at, void* buf, size_t n) {
    if (at < 0 || at + static_cast<long>(n) > size_) return false;
    return std::fseek(f_.get(), at, SEEK_SET) == 0 && std::fread(buf, 1, n, f_.get()) == n;
  }

private:
  kv::UniqueFile f_;
  long size_ = 0;
};

}  // namespace

std::string legacyToUtf8(const std::string& bytes) {
  if (validUtf8(bytes)) return bytes;
  std::string out;
  if (convert("CP932", bytes, &out)) return out;
  return latin1ToUtf8(bytes);
}

bool readMp3Info(const std::string& path, Mp3FileInfo* out) {
  File f(path);
  if (!f.ok()) return false;
  Mp3FileInfo info;
  long start = 0, end = f.size();

  // ID3v1 at the end (title, artist).
  unsigned char v1[128];
  if (end >= 128 && f.read(end - 128, v1, 128) && std::memcmp(v1, "TAG", 3) == 0) {
    end -= 128;
    info.title = legacyToUtf8(trimTag(reinterpret_cast<char*>(v1 + 3), 30));
    info.artist = legacyToUtf8(trimTag(reinterpret_cast<char*>(v1 + 33), 30));
  }
  // ID3v2 at the start; its texts take precedence over ID3v1's.
  unsigned char h10[10];
  if (f.read(0, h10, 10) && std::memcmp(h10, "ID3", 3) == 0 && h10[3] >= 2 && h10[3] <= 4) {
    long tagSize = syncsafe(h10 + 6);
    start = 10 + tagSize + ((h10[5] & 0x10) ? 10 : 0);
    if (!(h10[5] & 0x80) && tagSize > 0 && tagSize < (16 << 20)) {  // unsynchronised tags are skipped
      std::vector<unsigned char> tag(static_cast<size_t>(tagSize));
      if (f.read(10, tag.data(), tag.size())) {
        size_t skip = 0;
        if ((h10[5] & 0x40) && h10[3] >= 3 && tag.size() >= 4)
          skip = h10[3] == 4 ? syncsafe(tag.data()) : be32(tag.data()) + 4;
        if (skip < tag.size()) {
          std::vector<unsigned char> frames(tag.begin() + skip, tag.end());
          Mp3FileInfo v2;
          parseId3v2(frames, h10[3], &v2);
          if (!v2.title.empty()) info.title = v2.title;
          if (!v2.artist.empty()) info.artist = v2.artist;
        }
      }
    }
  }

  // First frame: a valid header followed by another valid header (or the end of the audio).
  Header first;
  long pos = start, limit = std::min(end, start + (1L << 20));
  std::vector<unsigned char> win(4096);
  bool found = false;
  while (!found && pos + 4 <= limit) {
    size_t n = static_cast<size_t>(std::min<long>(win.size(), end - pos));
    if (n < 4 || !f.read(pos, win.data(), n)) break;
    for (size_t i = 0; i + 4 <= n; ++i) {
      Header h;
      if (!parseHeader(&win[i], &h)) continue;
      // Two more headers must follow (or the audio end), so stray sync bits in other data do not count.
      long next = pos + static_cast<long>(i);
      int chained = 0;
      Header cur = h;
      while (chained < 2) {
        next += cur.length;
        unsigned char nb[4];
        Header h2;
        if (next == end) { chained = 2; break; }
        if (!f.read(next, nb, 4) || !parseHeader(nb, &h2) || h2.rate != h.rate) break;
        cur = h2;
        ++chained;
      }
      if (chained == 2) {
        first = h;
        pos += static_cast<long>(i);
        found = true;
        break;
      }
    }
    if (!found) pos += static_cast<long>(n) - 3;
  }
  if (!found) return false;
  info.sampleRate = first.rate;
  info.channels = first.channels;

  // Xing/Info or VBRI record in the first frame: frame count (and LAME's delay/padding) without a scan.
  std::vector<unsigned char> fr(static_cast<size_t>(std::min<long>(first.length, end - pos)));
  int64_t totalSamples = -1;
  long audioStart = pos, audioBytes = end - pos;
  if (f.read(pos, fr.data(), fr.size())) {
    size_t x = 4 + static_cast<size_t>(first.sideInfo);
    if (x + 8 <= fr.size() && (std::memcmp(&fr[x], "Xing", 4) == 0 || std::memcmp(&fr[x], "Info", 4) == 0)) {
      uint32_t flags = be32(&fr[x + 4]);
      size_t p = x + 8;
      int64_t frames = -1;
      if ((flags & 1) && p + 4 <= fr.size()) { frames = be32(&fr[p]); p += 4; }
      if (flags & 2) { if (p + 4 <= fr.size()) audioBytes = be32(&fr[p]) - first.length; p += 4; }
      if (flags & 4) p += 100;
      if (flags & 8) p += 4;
      if (frames >= 0) {
        totalSamples = frames * first.samples;
        if (p + 24 <= fr.size() && (std::memcmp(&fr[p], "LAME", 4) == 0 || std::memcmp(&fr[p], "Lavc", 4) == 0 ||
                                    std::memcmp(&fr[p], "Lavf", 4) == 0)) {
          const unsigned char* d = &fr[p + 21];
          int delay = (d[0] << 4) | (d[1] >> 4), padding = ((d[1] & 0x0F) << 8) | d[2];
          if (delay + padding < totalSamples) totalSamples -= delay + padding;
        }
        info.frames = frames;
      }
      audioStart = pos + first.length;  // the record frame holds no audio
      if (audioBytes <= 0 || audioBytes > end - audioStart) audioBytes = end - audioStart;
    } else if (36 + 18 <= fr.size() && std::memcmp(&fr[36], "VBRI", 4) == 0) {
      audioBytes = be32(&fr[36 + 10]);
      info.frames = be32(&fr[36 + 14]);
      totalSamples = info.frames * first.samples;
      audioStart = pos + first.length;
      if (audioBytes <= 0 || audioBytes > end - audioStart) audioBytes = end - audioStart;
    }
  }
  if (totalSamples < 0) {
    // No record: walk the frames.
    int64_t frames = 0, samples = 0;
    long p = pos;
    unsigned char b[4];
    while (p + 4 <= end && f.read(p, b, 4)) {
      Header h;
      if (!parseHeader(b, &h) || h.rate != first.rate) break;
      ++frames;
      samples += h.samples;
      p += h.length;
    }
    info.frames = frames;
    totalSamples = samples;
    audioBytes = std::min(p, end) - pos;
  }
  info.seconds = static_cast<double>(totalSamples) / first.rate;
  info.bitrateKbps = info.seconds > 0 ? static_cast<int>(audioBytes * 8.0 / info.seconds / 1000.0 + 0.5) : first.bitrate;
  *out = info;
  return true;
}

}  // namespace kv::mp3
