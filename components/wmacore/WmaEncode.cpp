#include "components/wmacore/WmaEncode.h"

#include <sndfile.h>

#include "owned.h"
#include "replacing_file.h"
#include "textcodec.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <span>
#include <vector>

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
constexpr int kIoBuffer = 32 * 1024;

using SoundFile = Owned<SNDFILE, sf_close>;
void FreeCodec(AVCodecContext* c) { avcodec_free_context(&c); }
void FreeResampler(SwrContext* s) { swr_free(&s); }
void FreeFrame(AVFrame* f) { av_frame_free(&f); }
void FreePacket(AVPacket* p) { av_packet_free(&p); }
void FreeIo(AVIOContext* io) {
  av_freep(&io->buffer);
  avio_context_free(&io);
}

// The muxer writes through the output file's stream, so its writes pass the full-disk hook.
int WriteStream(void* stream, uint8_t* buf, int size) {
  if (std::fwrite(buf, 1, size_t(size), static_cast<FILE*>(stream)) != size_t(size)) return AVERROR(errno ? errno : EIO);
  return size;
}

int64_t SeekStream(void* stream, int64_t offset, int whence) {
  FILE* f = static_cast<FILE*>(stream);
  if (whence & AVSEEK_SIZE) {
    const off_t at = ftello(f);
    if (at < 0 || fseeko(f, 0, SEEK_END) != 0) return AVERROR(errno);
    const off_t size = ftello(f);
    return fseeko(f, at, SEEK_SET) == 0 ? size : AVERROR(errno);
  }
  if (fseeko(f, offset, whence & ~AVSEEK_FORCE) != 0) return AVERROR(errno);
  return ftello(f);
}

std::string AvError(int code) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, buf, sizeof buf);
  return buf;
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
  std::string wavPath, wmaPath;
  Settings settings;
  WaveSource source;
  SoundFile sf;
  ReplacingFile out;  // declared before the encode state that writes to it

  // Encode state, only alive inside Run(); io outlives the muxer that uses it.
  Owned<AVIOContext, FreeIo> io;
  Owned<AVFormatContext, avformat_free_context> oc;
  Owned<AVCodecContext, FreeCodec> cc;
  AVStream* st = nullptr;  // the muxer's
  Owned<SwrContext, FreeResampler> swr;
  Owned<AVAudioFifo, av_audio_fifo_free> fifo;
  Owned<AVFrame, FreeFrame> frame;
  Owned<AVPacket, FreePacket> pkt;
  int64_t nextPts = 0;

  void FreeEncodeState() {
    pkt.reset();
    frame.reset();
    fifo.reset();
    swr.reset();
    cc.reset();
    oc.reset();
    io.reset();
    st = nullptr;
  }

  void Close() {
    FreeEncodeState();
    sf.reset();
    out.Discard();
  }

  Status Open(const std::string& in, const std::string& outPath, const Settings& s) {
    Close();
    wavPath = in;
    wmaPath = outPath;
    settings = s;
    if (settings.bitRateKbps <= 0) settings.bitRateKbps = 64;
    if (settings.sampleRate <= 0) settings.sampleRate = 44100;
    if (settings.channels != 1) settings.channels = 2;
    source = {};
    if (in.empty()) return Status::Error("no input file given");
    if (outPath.empty()) return Status::Error("no output file given");

    SF_INFO info{};
    sf.reset(sf_open(in.c_str(), SFM_READ, &info));
    if (!sf) {
      const std::string why = sf_strerror(nullptr);
      if (!UniqueFile(std::fopen(in.c_str(), "rb")))
        return Status::Error("cannot open " + in + ": " + std::strerror(errno), errno);
      return Status::Error(in + " is not a readable WAVE file (" + why + ")");
    }
    int major = info.format & SF_FORMAT_TYPEMASK;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX) {
      Close();
      return Status::Error(in + " is not a WAVE file");
    }
    if (info.channels < 1 || info.channels > 2 || info.samplerate < 1000 || info.samplerate > 192000) {
      Close();
      return Status::Error(in + ": unsupported format (" + std::to_string(info.channels) + " channels, " +
                           std::to_string(info.samplerate) + " Hz)");
    }
    source.sampleRate = info.samplerate;
    source.channels = info.channels;
    source.bitsPerSample = BitsOf(info.format);
    source.frames = info.frames < 0 ? 0 : info.frames;
    if (settings.codec != Codec::Wma) {
      settings.sampleRate = settings.codec == Codec::Opus ? 48000 : source.sampleRate;
      settings.channels = source.channels;
    }

    // Reserve the temporary file now, which also proves the folder is writable.
    if (Status st = out.Create(outPath); !st) {
      Close();
      return st;
    }
    return {};
  }

  Status SetUpEncoder() {
    QuietFfmpegOnce();
    struct Kind {
      const char *encoder, *muxer, *name;
    };
    const Kind kind = settings.codec == Codec::Flac   ? Kind{"flac", "flac", "FLAC"}
                      : settings.codec == Codec::Opus ? Kind{"libopus", "opus", "Opus"}
                                                      : Kind{"wmav2", "asf", "WMA"};
    const AVCodec* codec = avcodec_find_encoder_by_name(kind.encoder);
    if (!codec) return Status::Error(std::string("the ") + kind.encoder + " encoder is not available in this FFmpeg");
    AVFormatContext* muxer = nullptr;
    int rc = avformat_alloc_output_context2(&muxer, nullptr, kind.muxer, out.TempPath().c_str());
    oc.reset(muxer);
    if (rc < 0 || !oc) return Status::Error(std::string("cannot create a ") + kind.name + " file: " + AvError(rc));
    st = avformat_new_stream(oc.get(), nullptr);
    cc.reset(avcodec_alloc_context3(codec));
    if (!st || !cc) return Status::Error("out of memory");
    switch (settings.codec) {
      case Codec::Wma:
        cc->sample_fmt = AV_SAMPLE_FMT_FLTP;
        cc->bit_rate = int64_t(settings.bitRateKbps) * 1000;
        break;
      case Codec::Flac:
        // Whole samples: a float of a 16- or 24-bit sample converts back to it exactly.
        cc->sample_fmt = source.bitsPerSample > 16 ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16;
        cc->bits_per_raw_sample = source.bitsPerSample > 16 ? 24 : 16;
        break;
      case Codec::Opus:
        cc->sample_fmt = AV_SAMPLE_FMT_FLT;
        cc->bit_rate = 64000 * int64_t(settings.channels);
        break;
    }
    cc->sample_rate = settings.sampleRate;
    av_channel_layout_default(&cc->ch_layout, settings.channels);
    cc->time_base = AVRational{1, settings.sampleRate};
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) cc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if ((rc = avcodec_open2(cc.get(), codec, nullptr)) < 0)
      return Status::Error(std::string("cannot start the ") + kind.name + " encoder at " +
                           std::to_string(settings.bitRateKbps) + " kbit/s, " + std::to_string(settings.sampleRate) +
                           " Hz: " + AvError(rc));
    if ((rc = avcodec_parameters_from_context(st->codecpar, cc.get())) < 0) return Status::Error(AvError(rc));
    st->time_base = cc->time_base;

    const Tags& t = settings.tags;
    const std::pair<const char*, const std::string*> asfTags[] = {
        {"title", &t.title}, {"author", &t.author}, {"copyright", &t.copyright},
        {"comment", &t.comment}, {"rating", &t.rating}};
    const std::pair<const char*, const std::string*> vorbisTags[] = {{"TITLE", &t.title}};
    // The texts come as the caller's bytes (a title from a Shift-JIS file name too); the
    // containers store Unicode, so they are read as legacy text first.
    using TagList = std::span<const std::pair<const char*, const std::string*>>;
    for (auto& [key, value] : settings.codec == Codec::Wma ? TagList(asfTags) : TagList(vorbisTags)) {
      if (value->empty()) continue;
      // FLAC takes the file's tags, Ogg the stream's.
      av_dict_set(settings.codec == Codec::Opus ? &st->metadata : &oc->metadata, key, kv::text::ToUtf8(*value).c_str(), 0);
    }

    // Mono input is duplicated into both channels by us (no -3 dB pan law), so the resampler
    // sees the output's channel count whenever the output is stereo.
    AVChannelLayout inLayout{};
    av_channel_layout_default(&inLayout, settings.channels == 2 ? 2 : source.channels);
    SwrContext* resampler = nullptr;
    rc = swr_alloc_set_opts2(&resampler, &cc->ch_layout, cc->sample_fmt, settings.sampleRate, &inLayout,
                             AV_SAMPLE_FMT_FLT, source.sampleRate, 0, nullptr);
    swr.reset(resampler);
    av_channel_layout_uninit(&inLayout);
    if (rc < 0 || !swr || (rc = swr_init(swr.get())) < 0)
      return Status::Error("cannot set up the resampler: " + AvError(rc));

    if (cc->frame_size <= 0) cc->frame_size = kReadBlock;  // an encoder that takes any frame size
    fifo.reset(av_audio_fifo_alloc(cc->sample_fmt, settings.channels, cc->frame_size * 4));
    frame.reset(av_frame_alloc());
    pkt.reset(av_packet_alloc());
    if (!fifo || !frame || !pkt) return Status::Error("out of memory");

    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBuffer));
    io.reset(buffer ? avio_alloc_context(buffer, kIoBuffer, 1, out.Stream(), nullptr, WriteStream, SeekStream) : nullptr);
    if (!io) {
      av_free(buffer);
      return Status::Error("out of memory");
    }
    oc->pb = io.get();
    oc->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Ogg numbers its stream at random otherwise: the same recording must give the same bytes.
    if (settings.codec == Codec::Opus) oc->flags |= AVFMT_FLAG_BITEXACT;
    if ((rc = avformat_write_header(oc.get(), nullptr)) < 0)
      return Status::Error("cannot write the header of " + wmaPath + ": " + AvError(rc));
    nextPts = 0;
    return {};
  }

  Status Drain() {
    for (;;) {
      int rc = avcodec_receive_packet(cc.get(), pkt.get());
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return {};
      if (rc < 0) return Status::Error("encoding failed: " + AvError(rc));
      av_packet_rescale_ts(pkt.get(), cc->time_base, st->time_base);
      pkt->stream_index = st->index;
      rc = av_interleaved_write_frame(oc.get(), pkt.get());
      if (rc < 0) return Status::Error("cannot write " + wmaPath + ": " + AvError(rc));
    }
  }

  // Sends full encoder frames from the FIFO; at the end also the last, padded one.
  Status EncodeFifo(bool final) {
    const int fs = cc->frame_size;
    while (av_audio_fifo_size(fifo.get()) >= fs || (final && av_audio_fifo_size(fifo.get()) > 0)) {
      int n = std::min(fs, av_audio_fifo_size(fifo.get()));
      av_frame_unref(frame.get());
      frame->nb_samples = fs;
      frame->format = cc->sample_fmt;
      frame->sample_rate = cc->sample_rate;
      av_channel_layout_copy(&frame->ch_layout, &cc->ch_layout);
      int rc = av_frame_get_buffer(frame.get(), 0);
      if (rc < 0) return Status::Error("out of memory");
      if (av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(frame->data), n) != n)
        return Status::Error("internal FIFO error");
      // A short last frame: libavcodec pads it and keeps the real duration on the packet.
      frame->nb_samples = n;
      frame->pts = nextPts;
      nextPts += frame->nb_samples;
      if ((rc = avcodec_send_frame(cc.get(), frame.get())) < 0) return Status::Error("encoding failed: " + AvError(rc));
      if (Status drained = Drain(); !drained) return drained;
    }
    return {};
  }

  Status Resample(const float* in, int frames) {
    const uint8_t* inData[1] = {reinterpret_cast<const uint8_t*>(in)};
    // The resampler keeps what it cannot output yet; it is always fed.
    int room = std::max(0, swr_get_out_samples(swr.get(), frames));
    if (av_audio_fifo_realloc(fifo.get(), av_audio_fifo_size(fifo.get()) + room + 1) < 0)
      return Status::Error("out of memory");
    // Resample straight into scratch buffers in the encoder's layout, then queue them.
    uint8_t* planes[AV_NUM_DATA_POINTERS] = {};
    int lineSize = 0;
    const int bytes = av_samples_get_buffer_size(&lineSize, settings.channels, room + 1, cc->sample_fmt, 1);
    if (bytes < 0) return Status::Error("out of memory");
    static thread_local std::vector<uint8_t> scratch;
    scratch.resize(size_t(bytes));
    av_samples_fill_arrays(planes, &lineSize, scratch.data(), settings.channels, room + 1, cc->sample_fmt, 1);
    int got = swr_convert(swr.get(), planes, room, in ? inData : nullptr, in ? frames : 0);
    if (got < 0) return Status::Error("resampling failed: " + AvError(got));
    if (got > 0 && av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(planes), got) != got)
      return Status::Error("out of memory");
    return {};
  }

  Status Run(const ProgressFn& progress) {
    if (!out.IsOpen()) return Status::Error("nothing opened");
    Status result = RunOpened(progress);
    FreeEncodeState();
    sf.reset();
    if (result) result = out.Commit();
    Close();
    return result;
  }

  Status RunOpened(const ProgressFn& progress) {
    if (Status set = SetUpEncoder(); !set) return set;
    const int inCh = source.channels;
    const int swrCh = settings.channels == 2 ? 2 : inCh;
    std::vector<float> block(size_t(kReadBlock) * inCh), wide;
    int64_t done = 0;
    const Status cancelled = Status::Error("cancelled");
    if (progress && !progress(0, source.frames)) return cancelled;
    for (;;) {
      sf_count_t got = sf_readf_float(sf.get(), block.data(), kReadBlock);
      if (got <= 0) break;
      const float* feed = block.data();
      if (inCh == 1 && swrCh == 2) {
        wide.resize(size_t(got) * 2);
        for (sf_count_t i = 0; i < got; ++i) wide[2 * i] = wide[2 * i + 1] = block[i];
        feed = wide.data();
      }
      if (Status step = Resample(feed, int(got)); !step) return step;
      if (Status step = EncodeFifo(false); !step) return step;
      done += got;
      if (progress && !progress(std::min(done, source.frames), source.frames)) return cancelled;
    }
    if (sf_error(sf.get()) != SF_ERR_NO_ERROR)
      return Status::Error("cannot read " + wavPath + ": " + sf_strerror(sf.get()));
    if (Status step = Resample(nullptr, 0); !step) return step;
    if (Status step = EncodeFifo(true); !step) return step;
    int rc = avcodec_send_frame(cc.get(), nullptr);
    if (rc < 0 && rc != AVERROR_EOF) return Status::Error("encoding failed: " + AvError(rc));
    if (Status step = Drain(); !step) return step;
    if ((rc = av_write_trailer(oc.get())) < 0) return Status::Error("cannot finish " + wmaPath + ": " + AvError(rc));
    avio_flush(io.get());
    if (io->error < 0) return Status::Error("cannot write " + wmaPath + ": " + AvError(io->error));
    if (progress) progress(source.frames, source.frames);
    return {};
  }
};

Encoder::Encoder() : d_(std::make_unique<Impl>()) {}
Encoder::~Encoder() = default;

Status Encoder::Open(const std::string& wavPath, const std::string& wmaPath, const Settings& settings) {
  return d_->Open(wavPath, wmaPath, settings);
}
const WaveSource& Encoder::Source() const { return d_->source; }
Status Encoder::Run(const ProgressFn& progress) { return d_->Run(progress); }
void Encoder::Close() { d_->Close(); }

Status EncodeWaveToWma(const std::string& wavPath, const std::string& wmaPath, const Settings& settings,
                       const ProgressFn& progress) {
  Encoder enc;
  Status st = enc.Open(wavPath, wmaPath, settings);
  return st ? enc.Run(progress) : st;
}

}  // namespace kv::wma
