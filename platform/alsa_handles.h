// Owners of ALSA handles, declared without ALSA's headers (which define macros of their own).
#pragma once
#include <memory>

struct _snd_pcm;  // snd_pcm_t
struct _snd_seq;  // snd_seq_t

namespace kv::media {

struct PcmCloser {
  void operator()(::_snd_pcm* pcm) const;
};
using PcmHandle = std::unique_ptr<::_snd_pcm, PcmCloser>;

struct SeqCloser {
  void operator()(::_snd_seq* seq) const;
};
using SeqHandle = std::unique_ptr<::_snd_seq, SeqCloser>;

}  // namespace kv::media
