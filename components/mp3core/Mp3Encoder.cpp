#include "Mp3Encoder.h"

#include <algorithm>

namespace kv::mp3 {

bool isEncodableRate(int hz) {
  switch (hz) {
    case 16000: case 22050: case 24000: case 32000: case 44100: case 48000: return true;
    default: return false;
  }
}

Mp3Encoder::Mp3Encoder() = default;

Mp3Encoder::~Mp3Encoder() { abort(); }

void Mp3Encoder::abort() {
  if (!finished_) out_.Discard();
  reader_.close();
  lame_.reset();
}

Status Mp3Encoder::fail(EncodeError e, const std::string& why) {
  abort();
  return Status::Error(why, int(e));
}

Status Mp3Encoder::openInput(const std::string& wavPath, const EncodeOptions& opt) {
  abort();
  finished_ = false;
  framesDone_ = 0;
  if (Status in = reader_.open(wavPath); !in)
    return fail(in.code() == int(WaveError::CannotOpen) ? EncodeError::InputOpen : EncodeError::InputFormat,
                in.message());
  const WaveInfo& wi = reader_.info();
  return setUp(opt.inputRate > 0 ? opt.inputRate : wi.sampleRate, wi.channels, opt);
}

Status Mp3Encoder::openStream(int rate, int channels, const EncodeOptions& opt) {
  abort();
  finished_ = false;
  framesDone_ = 0;
  if (channels != 1 && channels != 2)
    return fail(EncodeError::InputFormat, std::to_string(channels) + " channels cannot be encoded");
  return setUp(rate, channels, opt);
}

Status Mp3Encoder::setUp(int rate, int channels, const EncodeOptions& opt) {
  if (!isEncodableRate(rate))
    return fail(EncodeError::InputFormat, "sampling rate " + std::to_string(rate) + " Hz cannot be encoded");

  lame_.reset(lame_init());
  lame_global_flags* gf = lame_.get();
  if (!gf) return fail(EncodeError::EncodeFailed, "LAME could not be initialised");
  channels_ = channels;
  lame_set_num_channels(gf, channels);
  lame_set_in_samplerate(gf, rate);
  lame_set_out_samplerate(gf, rate);  // keep the recording's rate: one step = one output frame
  lame_set_mode(gf, channels == 1 ? MONO : (opt.mode == ChannelMode::Stereo ? STEREO : JOINT_STEREO));
  lame_set_VBR(gf, vbr_off);
  lame_set_brate(gf, opt.bitrateKbps > 0 ? opt.bitrateKbps : 128);
  lame_set_quality(gf, opt.quality);
  lame_set_bWriteVbrTag(gf, 1);  // Info frame with exact length and encoder delay, for players and seeking
  if (lame_init_params(gf) < 0) return fail(EncodeError::InputFormat, "LAME rejected the encoding parameters");
  bitrate_ = lame_get_brate(gf);
  samplesPerStep_ = lame_get_framesize(gf);
  pcm_.assign(static_cast<size_t>(samplesPerStep_ * channels), 0);
  mp3buf_.assign(static_cast<size_t>(samplesPerStep_ * 5 / 4 + 7200), 0);
  return {};
}

Status Mp3Encoder::openOutput(const std::string& mp3Path) {
  if (!lame_) return Status::Error("no input opened", int(EncodeError::State));
  if (Status st = out_.Create(mp3Path); !st) return fail(EncodeError::OutputOpen, st.message());
  return {};
}

int64_t Mp3Encoder::totalSteps() const {
  if (samplesPerStep_ <= 0) return 0;
  int64_t n = (reader_.info().frames + samplesPerStep_ - 1) / samplesPerStep_;
  return n > 0 ? n : 1;  // an empty file still takes the one finishing step
}

bool Mp3Encoder::write(const unsigned char* p, int n) {
  if (n < 0) return false;
  return n == 0 || std::fwrite(p, 1, static_cast<size_t>(n), out_.Stream()) == static_cast<size_t>(n);
}

Status Mp3Encoder::encode(const int16_t* pcm, int64_t frames) {
  lame_global_flags* gf = lame_.get();
  // LAME takes an int count: long blocks go in pieces, which gives the same stream.
  for (int64_t at = 0; at < frames;) {
    const int n = static_cast<int>(std::min<int64_t>(frames - at, samplesPerStep_));
    const size_t need = static_cast<size_t>(n) * 5 / 4 + 7200;
    if (mp3buf_.size() < need) mp3buf_.resize(need);
    const int16_t* p = pcm + at * channels_;
    int made = channels_ == 2 ? lame_encode_buffer_interleaved(gf, const_cast<int16_t*>(p), n, mp3buf_.data(),
                                                               static_cast<int>(mp3buf_.size()))
                              : lame_encode_buffer(gf, p, p, n, mp3buf_.data(), static_cast<int>(mp3buf_.size()));
    if (!write(mp3buf_.data(), made)) return fail(EncodeError::EncodeFailed, "MP3 encoding or writing failed");
    framesDone_ += n;
    at += n;
  }
  return {};
}

Status Mp3Encoder::feed(const int16_t* pcm, int64_t frames) {
  if (finished_ || !lame_ || !out_.IsOpen()) return Status::Error("no encode opened", int(EncodeError::State));
  return encode(pcm, frames);
}

Status Mp3Encoder::step() {
  if (finished_) return {};
  if (!lame_ || !out_.IsOpen()) return Status::Error("no encode opened", int(EncodeError::State));
  int64_t got = reader_.read(pcm_.data(), samplesPerStep_);
  if (got < 0) return fail(EncodeError::EncodeFailed, "read error in the WAVE file");
  if (Status st = encode(pcm_.data(), got); !st) return st;
  // The header's length can be short or long of the real data: the end of the data decides.
  bool last = got < samplesPerStep_ || framesDone_ >= reader_.info().frames;
  return last ? finish() : Status{};
}

Status Mp3Encoder::finish() {
  if (finished_) return {};
  if (!lame_ || !out_.IsOpen()) return Status::Error("no encode opened", int(EncodeError::State));
  lame_global_flags* gf = lame_.get();
  int n = lame_encode_flush(gf, mp3buf_.data(), static_cast<int>(mp3buf_.size()));
  if (!write(mp3buf_.data(), n)) return fail(EncodeError::EncodeFailed, "MP3 encoding or writing failed");
  std::vector<unsigned char> tag(2880);
  size_t tn = lame_get_lametag_frame(gf, tag.data(), tag.size());
  if (tn > 0 && tn <= tag.size()) {
    // The Info frame was reserved at the start of the stream; fill it in now that the length is known.
    if (std::fseek(out_.Stream(), 0, SEEK_SET) != 0 || std::fwrite(tag.data(), 1, tn, out_.Stream()) != tn)
      return fail(EncodeError::EncodeFailed, "cannot write the MP3 header");
  }
  if (Status st = out_.Commit(); !st) return fail(EncodeError::EncodeFailed, st.message());
  finished_ = true;
  abort();
  return {};
}

}  // namespace kv::mp3
