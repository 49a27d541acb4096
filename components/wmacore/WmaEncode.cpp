#include "components/wmacore/WmaEncode.h"

#include <sndfile.h>

#include "textcodec.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace kv::wma {

namespace {

constexpr int kReadBlock = 4096;  // input frames per read (and per progress report)

std::string AvError(int code) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, buf, sizeof buf);
  return buf;
}

std::string FolderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

int BitsOf(int sfFormat) {
  switch (sfFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_S8: return 8;
    case SF_FORMAT_PCM_16: return 16;
    case SF_FORMAT_PCM_24: return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT: return 32;
    case SF_FORMAT_DOUBLE: return 64;
    default: return 0;
  }
}

void QuietFfmpegOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Warnings of the muxer would land on the user's terminal; errors are reported by us.
    if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
  });
}

}  // namespace

struct Encoder::Impl {
  std::string wavPath, wmaPath, tmpPath, error;
  Settings settings;
  WaveSource source;
  SNDFILE* sf = nullptr;
  bool opened = false;

  // Encode state, only alive inside Run().
  AVFormatContext* oc = nullptr;
  AVCodecContext* cc = nullptr;
  AVStream* st = nullptr;
  SwrContext* swr = nullptr;
  AVAudioFifo* fifo = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* pkt = nullptr;
  int64_t nextPts = 0;

  ~Impl() { Close(); }

  bool Fail(std::string msg) {
    error = std::move(msg);
    return false;
  }

  void FreeEncodeState() {
    if (oc) {
      if (oc->pb) avio_closep(&oc->pb);
      avformat_free_context(oc);
      oc = nullptr;
    }
    avcodec_free_context(&cc);
    swr_free(&swr);
    if (fifo) av_audio_fifo_free(fifo);
    fifo = nullptr;
    av_frame_free(&frame);
    av_packet_free(&pkt);
    st = nullptr;
  }

  void Close() {
    FreeEncodeState();
    if (sf) sf_close(sf);
    sf = nullptr;
    if (!tmpPath.empty()) ::unlink(tmpPath.c_str());
    tmpPath.clear();
    opened = false;
  }

  bool Open(const std::string& in, const std::string& out, const Settings& s) {
    Close();
    error.clear();
    wavPath = in;
    wmaPath = out;
    settings = s;
    if (settings.bitRateKbps <= 0) settings.bitRateKbps = 64;
    if (settings.sampleRate <= 0) settings.sampleRate = 44100;
    if (settings.channels != 1) settings.channels = 2;
    source = {};
    if (in.empty()) return Fail("no input file given");
    if (out.empty()) return Fail("no output file given");

    SF_INFO info{};
    sf = sf_open(in.c_str(), SFM_READ, &info);
    if (!sf) {
      const std::string why = sf_strerror(nullptr);
      FILE* probe = std::fopen(in.c_str(), "rb");
      if (!probe) return Fail("cannot open " + in + ": " + std::strerror(errno));
      std::fclose(probe);
      return Fail(in + " is not a readable WAVE file (" + why + ")");
    }
    int major = info.format & SF_FORMAT_TYPEMASK;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX) {
      Close();
      return Fail(in + " is not a WAVE file");
    }
    if (info.channels < 1 || info.channels > 2 || info.samplerate < 1000 || info.samplerate > 192000) {
      Close();
      return Fail(in + ": unsupported format (" + std::to_string(info.channels) + " channels, " +
                  std::to_string(info.samplerate) + " Hz)");
    }
    source.sampleRate = info.samplerate;
    source.channels = info.channels;
    source.bitsPerSample = BitsOf(info.format);
    source.frames = info.frames < 0 ? 0 : info.frames;

    // Reserve the temporary name now, which also proves the folder is writable.
    std::string tmp;
    int fd = -1, e = 0;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
      char suffix[32];
      // Short and hidden: a long output name must not push the temporary name past NAME_MAX.
      std::snprintf(suffix, sizeof suffix, "/.wma-%d-%u.part", int(::getpid()), unsigned(std::rand()) % 100000u);
      tmp = FolderOf(out) + suffix;
      // 0666 under the user's umask, like any file the user's programs write.
      fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      e = errno;
      if (fd < 0 && e != EEXIST) break;
    }
    if (fd < 0) {
      Close();
      return Fail("cannot write in " + FolderOf(out) + ": " + std::strerror(e));
    }
    ::close(fd);
    tmpPath = tmp;
    opened = true;
    return true;
  }

  bool SetUpEncoder() {
    QuietFfmpegOnce();
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (!codec) return Fail("the wmav2 encoder is not available in this FFmpeg");
    int rc = avformat_alloc_output_context2(&oc, nullptr, "asf", tmpPath.c_str());
    if (rc < 0 || !oc) return Fail("cannot create an ASF file: " + AvError(rc));
    st = avformat_new_stream(oc, nullptr);
    cc = avcodec_alloc_context3(codec);
    if (!st || !cc) return Fail("out of memory");
    cc->sample_fmt = AV_SAMPLE_FMT_FLTP;
    cc->sample_rate = settings.sampleRate;
    cc->bit_rate = int64_t(settings.bitRateKbps) * 1000;
    av_channel_layout_default(&cc->ch_layout, settings.channels);
    cc->time_base = AVRational{1, settings.sampleRate};
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) cc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if ((rc = avcodec_open2(cc, codec, nullptr)) < 0)
      return Fail("cannot start the WMA encoder at " + std::to_string(settings.bitRateKbps) + " kbit/s, " +
                  std::to_string(settings.sampleRate) + " Hz: " + AvError(rc));
    if ((rc = avcodec_parameters_from_context(st->codecpar, cc)) < 0) return Fail(AvError(rc));
    st->time_base = cc->time_base;

    const Tags& t = settings.tags;
    const std::pair<const char*, const std::string*> tags[] = {
        {"title", &t.title}, {"author", &t.author}, {"copyright", &t.copyright},
        {"comment", &t.comment}, {"rating", &t.rating}};
    // The texts come as the caller's bytes (a title from a Shift-JIS file name too); the
    // container stores UTF-16, so they are read as legacy text first.
    for (auto& [key, value] : tags)
      if (!value->empty()) av_dict_set(&oc->metadata, key, kv::text::ToUtf8(*value).c_str(), 0);

    // Mono input is duplicated into both channels by us (no -3 dB pan law), so the resampler
    // sees the output's channel count whenever the output is stereo.
    AVChannelLayout inLayout{};
    av_channel_layout_default(&inLayout, settings.channels == 2 ? 2 : source.channels);
    rc = swr_alloc_set_opts2(&swr, &cc->ch_layout, AV_SAMPLE_FMT_FLTP, settings.sampleRate, &inLayout,
                             AV_SAMPLE_FMT_FLT, source.sampleRate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    if (rc < 0 || !swr || (rc = swr_init(swr)) < 0) return Fail("cannot set up the resampler: " + AvError(rc));

    fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, settings.channels, cc->frame_size * 4);
    frame = av_frame_alloc();
    pkt = av_packet_alloc();
    if (!fifo || !frame || !pkt) return Fail("out of memory");

    if ((rc = avio_open(&oc->pb, tmpPath.c_str(), AVIO_FLAG_WRITE)) < 0)
      return Fail("cannot write " + tmpPath + ": " + AvError(rc));
    if ((rc = avformat_write_header(oc, nullptr)) < 0) return Fail("cannot write the ASF header: " + AvError(rc));
    nextPts = 0;
    return true;
  }

  bool Drain() {
    for (;;) {
      int rc = avcodec_receive_packet(cc, pkt);
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
      if (rc < 0) return Fail("encoding failed: " + AvError(rc));
      av_packet_rescale_ts(pkt, cc->time_base, st->time_base);
      pkt->stream_index = st->index;
      rc = av_interleaved_write_frame(oc, pkt);
      if (rc < 0) return Fail("cannot write " + wmaPath + ": " + AvError(rc));
    }
  }

  // Sends full encoder frames from the FIFO; at the end also the last, padded one.
  bool EncodeFifo(bool final) {
    const int fs = cc->frame_size;
    while (av_audio_fifo_size(fifo) >= fs || (final && av_audio_fifo_size(fifo) > 0)) {
      int n = std::min(fs, av_audio_fifo_size(fifo));
      av_frame_unref(frame);
      frame->nb_samples = fs;
      frame->format = cc->sample_fmt;
      frame->sample_rate = cc->sample_rate;
      av_channel_layout_copy(&frame->ch_layout, &cc->ch_layout);
      int rc = av_frame_get_buffer(frame, 0);
      if (rc < 0) return Fail("out of memory");
      if (av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->data), n) != n) return Fail("internal FIFO error");
      // A short last frame: libavcodec pads it and keeps the real duration on the packet.
      frame->nb_samples = n;
      frame->pts = nextPts;
      nextPts += frame->nb_samples;
      if ((rc = avcodec_send_frame(cc, frame)) < 0) return Fail("encoding failed: " + AvError(rc));
      if (!Drain()) return false;
    }
    return true;
  }

  bool Resample(const float* in, int frames) {
    const uint8_t* inData[1] = {reinterpret_cast<const uint8_t*>(in)};
    // The resampler keeps what it cannot output yet; it is always fed.
    int room = std::max(0, swr_get_out_samples(swr, frames));
    if (av_audio_fifo_realloc(fifo, av_audio_fifo_size(fifo) + room + 1) < 0) return Fail("out of memory");
    std::vector<uint8_t*> planes(settings.channels);
    // Resample straight into planar scratch buffers, then queue them.
    static thread_local std::vector<float> scratch;
    scratch.resize(size_t(room + 1) * settings.channels);
    for (int c = 0; c < settings.channels; ++c)
      planes[c] = reinterpret_cast<uint8_t*>(scratch.data() + size_t(c) * (room + 1));
    int got = swr_convert(swr, planes.data(), room, in ? inData : nullptr, in ? frames : 0);
    if (got < 0) return Fail("resampling failed: " + AvError(got));
    if (got > 0 && av_audio_fifo_write(fifo, reinterpret_cast<void**>(planes.data()), got) != got)
      return Fail("out of memory");
    return true;
  }

  bool Run(const ProgressFn& progress) {
    if (!opened) return Fail(error.empty() ? "nothing opened" : error);
    bool ok = RunOpened(progress);
    FreeEncodeState();
    if (sf) sf_close(sf);
    sf = nullptr;
    if (ok && std::rename(tmpPath.c_str(), wmaPath.c_str()) != 0)
      ok = Fail("cannot rename the result to " + wmaPath + ": " + std::strerror(errno));
    if (ok) tmpPath.clear();
    Close();
    return ok;
  }

  bool RunOpened(const ProgressFn& progress) {
    if (!SetUpEncoder()) return false;
    const int inCh = source.channels;
    const int swrCh = settings.channels == 2 ? 2 : inCh;
    std::vector<float> block(size_t(kReadBlock) * inCh), wide;
    int64_t done = 0;
    if (progress && !progress(0, source.frames)) return Fail("cancelled");
    for (;;) {
      sf_count_t got = sf_readf_float(sf, block.data(), kReadBlock);
      if (got <= 0) break;
      const float* feed = block.data();
      if (inCh == 1 && swrCh == 2) {
        wide.resize(size_t(got) * 2);
        for (sf_count_t i = 0; i < got; ++i) wide[2 * i] = wide[2 * i + 1] = block[i];
        feed = wide.data();
      }
      if (!Resample(feed, int(got)) || !EncodeFifo(false)) return false;
      done += got;
      if (progress && !progress(std::min(done, source.frames), source.frames)) return Fail("cancelled");
    }
    if (sf_error(sf) != SF_ERR_NO_ERROR) return Fail("cannot read " + wavPath + ": " + sf_strerror(sf));
    if (!Resample(nullptr, 0) || !EncodeFifo(true)) return false;
    int rc = avcodec_send_frame(cc, nullptr);
    if (rc < 0 && rc != AVERROR_EOF) return Fail("encoding failed: " + AvError(rc));
    if (!Drain()) return false;
    if ((rc = av_write_trailer(oc)) < 0) return Fail("cannot finish " + wmaPath + ": " + AvError(rc));
    if (oc->pb->error < 0) return Fail("cannot write " + wmaPath + ": " + AvError(oc->pb->error));
    if ((rc = avio_closep(&oc->pb)) < 0) return Fail("cannot write " + wmaPath + ": " + AvError(rc));
    if (progress) progress(source.frames, source.frames);
    return true;
  }
};

Encoder::Encoder() : d_(std::make_unique<Impl>()) {}
Encoder::~Encoder() = default;

bool Encoder::Open(const std::string& wavPath, const std::string& wmaPath, const Settings& settings) {
  return d_->Open(wavPath, wmaPath, settings);
}
const WaveSource& Encoder::Source() const { return d_->source; }
bool Encoder::Run(const ProgressFn& progress) { return d_->Run(progress); }
void Encoder::Close() { d_->Close(); }
const std::string& Encoder::Error() const { return d_->error; }

bool EncodeWaveToWma(const std::string& wavPath, const std::string& wmaPath, const Settings& settings,
                     const ProgressFn& progress, std::string* error) {
  Encoder enc;
  bool ok = enc.Open(wavPath, wmaPath, settings) && enc.Run(progress);
  if (!ok && error) *error = enc.Error();
  return ok;
}

}  // namespace kv::wma
