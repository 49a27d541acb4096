#include "wave_file.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "byte_order.h"
#include "owned.h"

namespace kv::media {
namespace {

void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(char((v >> (8 * i)) & 0xFF));
}
void Put16(std::string& s, uint16_t v) {
  s.push_back(char(v & 0xFF));
  s.push_back(char(v >> 8));
}
// A RIFF file cannot describe more than 4 GB; the recording stops growing there.
constexpr int64_t kMaxData = 0xFFFFFFFFll - 128;

}  // namespace

bool ReadWaveHeader(const std::string& path, WaveFormat& fmt) {
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  FILE* f = file.get();
  if (!f) return false;
  std::fseek(f, 0, SEEK_END);
  long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  uint8_t h[12];
  bool ok = size >= 12 && std::fread(h, 1, 12, f) == 12 && !std::memcmp(h, "RIFF", 4) && !std::memcmp(h + 8, "WAVE", 4);
  bool haveFmt = false, haveData = false;
  int64_t pos = 12;
  while (ok && pos + 8 <= size) {
    uint8_t c[8];
    std::fseek(f, pos, SEEK_SET);
    if (std::fread(c, 1, 8, f) != 8) break;
    uint32_t len = Le32(c + 4);
    if (!std::memcmp(c, "fmt ", 4)) {
      uint8_t b[16];
      if (len < 16 || std::fread(b, 1, 16, f) != 16) {
        ok = false;
        break;
      }
      fmt.formatTag = Le16(b);
      fmt.channels = Le16(b + 2);
      fmt.rate = int(Le32(b + 4));
      fmt.bytesPerSecond = Le32(b + 8);
      fmt.blockAlign = Le16(b + 12);
      fmt.bits = Le16(b + 14);
      fmt.fmtSize = int(len);
      haveFmt = true;
    } else if (!std::memcmp(c, "fact", 4)) {
      fmt.hasFact = true;
    } else if (!std::memcmp(c, "data", 4)) {
      fmt.dataBytes = std::min<int64_t>(len, size - pos - 8);
      haveData = true;
      break;
    }
    pos += 8 + int64_t(len) + (len & 1);
  }
  if (!ok || !haveFmt || fmt.channels <= 0 || fmt.rate <= 0 || fmt.blockAlign <= 0) return false;
  if (fmt.bytesPerSecond <= 0) fmt.bytesPerSecond = int64_t(fmt.rate) * fmt.blockAlign;
  if (!haveData) fmt.dataBytes = 0;
  return true;
}

bool IsRecordableFormat(const WaveFormat& fmt) {
  return fmt.formatTag == 1 && (fmt.bits == 8 || fmt.bits == 16) && (fmt.channels == 1 || fmt.channels == 2) &&
         fmt.rate >= 4000 && fmt.rate <= 192000;
}

std::string BuildWaveHeader(const WaveFormat& in, int64_t dataBytes) {
  WaveFormat fmt = in;
  fmt.blockAlign = fmt.channels * fmt.bits / 8;
  fmt.bytesPerSecond = int64_t(fmt.rate) * fmt.blockAlign;
  int fmtSize = fmt.fmtSize >= 18 ? 18 : 16;
  uint32_t pad = uint32_t(dataBytes & 1);
  uint32_t riff = 4 + (8 + fmtSize) + (fmt.hasFact ? 12 : 0) + 8 + uint32_t(dataBytes) + pad;
  std::string h = "RIFF";
  Put32(h, riff);
  h += "WAVEfmt ";
  Put32(h, uint32_t(fmtSize));
  Put16(h, 1);
  Put16(h, uint16_t(fmt.channels));
  Put32(h, uint32_t(fmt.rate));
  Put32(h, uint32_t(fmt.bytesPerSecond));
  Put16(h, uint16_t(fmt.blockAlign));
  Put16(h, uint16_t(fmt.bits));
  if (fmtSize == 18) Put16(h, 0);
  if (fmt.hasFact) {
    h += "fact";
    Put32(h, 4);
    Put32(h, uint32_t(dataBytes / fmt.blockAlign));
  }
  h += "data";
  Put32(h, uint32_t(dataBytes));
  return h;
}

WaveStreamWriter::~WaveStreamWriter() { Discard(); }

bool WaveStreamWriter::Open(const std::string& target, const WaveFormat& fmt) {
  fmt_ = fmt;
  data_ = 0;
  started_ = 0;
  failed_ = false;
  error_ = 0;
  // A fixed temporary name: a run that was killed leaves one the next run removes.
  if (const Status st = file_.Create(target, ".~rec"); !st) {
    error_ = st.code();
    return false;
  }
  // Large sequential writes: the mix arrives in small chunks.
  std::setvbuf(file_.Stream(), nullptr, _IOFBF, kWriteBuffer);
  std::string h = BuildWaveHeader(fmt_, 0);
  if (std::fwrite(h.data(), 1, h.size(), file_.Stream()) != h.size()) Failed();
  return true;
}

bool WaveStreamWriter::Write(const void* data, size_t bytes) {
  FILE* f = file_.Stream();
  if (!f || failed_) return false;
  if (data_ + int64_t(bytes) > kMaxData) bytes = size_t(std::max<int64_t>(0, kMaxData - data_));
  if (bytes && std::fwrite(data, 1, bytes, f) != bytes) {
    Failed();
    return false;
  }
  data_ += int64_t(bytes);
  // Starts write-back of each finished stretch now, so the fsync of the commit finds little
  // left to do and a long recording does not pile up dirty pages.
  if (data_ - started_ >= kWritebackStep) {
    if (std::fflush(f) != 0) {
      Failed();
      return false;
    }
    sync_file_range(file_.Fd(), started_, data_ - started_, SYNC_FILE_RANGE_WRITE);
    started_ = data_;
  }
  return true;
}

bool WaveStreamWriter::Commit(const std::string& target) {
  FILE* f = file_.Stream();
  if (!f) return false;
  bool ok = !failed_;
  if (ok && (data_ & 1)) ok = std::fputc(0, f) != EOF;
  std::string h = BuildWaveHeader(fmt_, data_);
  ok = ok && std::fseek(f, 0, SEEK_SET) == 0 && std::fwrite(h.data(), 1, h.size(), f) == h.size();
  if (!ok) {
    Failed();
    file_.Discard();
    return false;
  }
  if (const Status st = file_.Commit(target); !st) {
    error_ = st.code();
    return false;
  }
  return true;
}

void WaveStreamWriter::Failed() {
  if (!failed_ && !error_) error_ = errno ? errno : EIO;
  failed_ = true;
}

std::string WaveStreamWriter::Reason() const { return std::strerror(error_ ? error_ : EIO); }

void WaveStreamWriter::Discard() { file_.Discard(); }

}  // namespace kv::media
