#include "alsa_handles.h"

#include <alsa/asoundlib.h>

namespace kv::media {

void PcmCloser::operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
void SeqCloser::operator()(snd_seq_t* seq) const { snd_seq_close(seq); }

}  // namespace kv::media
