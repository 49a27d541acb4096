#include "seq_alsa.h"

#include <alsa/asoundlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "media_internal.h"

namespace kv::media {
namespace {

bool HaveSequencer() { return ::access("/dev/snd/seq", R_OK | W_OK) == 0; }

SeqHandle OpenSeq() {
  if (!HaveSequencer()) return nullptr;
  SilenceAlsa();
  snd_seq_t* seq = nullptr;
  if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0) return nullptr;
  snd_seq_set_client_name(seq, "Korvessa");
  return SeqHandle(seq);
}

}  // namespace

std::vector<AlsaPort> ListAlsaOutputPorts() {
  std::vector<AlsaPort> out;
  SeqHandle handle = OpenSeq();
  snd_seq_t* seq = handle.get();
  if (!seq) return out;
  int self = snd_seq_client_id(seq);
  snd_seq_client_info_t* ci;
  snd_seq_port_info_t* pi;
  snd_seq_client_info_alloca(&ci);
  snd_seq_port_info_alloca(&pi);
  snd_seq_client_info_set_client(ci, -1);
  while (snd_seq_query_next_client(seq, ci) >= 0) {
    int client = snd_seq_client_info_get_client(ci);
    if (client == SND_SEQ_CLIENT_SYSTEM || client == self) continue;
    snd_seq_port_info_set_client(pi, client);
    snd_seq_port_info_set_port(pi, -1);
    while (snd_seq_query_next_port(seq, pi) >= 0) {
      unsigned caps = snd_seq_port_info_get_capability(pi);
      unsigned need = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
      if ((caps & need) != need || (caps & SND_SEQ_PORT_CAP_NO_EXPORT)) continue;
      AlsaPort p;
      p.client = client;
      p.port = snd_seq_port_info_get_port(pi);
      p.name = snd_seq_port_info_get_name(pi);
      if (p.name.size() > 31) p.name.resize(31);
      out.push_back(p);
    }
  }
  return out;
}

AlsaSeqPlayer::~AlsaSeqPlayer() { Stop(); }

bool AlsaSeqPlayer::Start(std::shared_ptr<const Song> song, const AlsaPort& port, int64_t fromMs, std::string& error) {
  Stop();
  SeqHandle seq = OpenSeq();
  if (!seq) {
    error = "The ALSA sequencer is not available.";
    return false;
  }
  int own = snd_seq_create_simple_port(seq.get(), "Korvessa out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                       SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
  if (own < 0 || snd_seq_connect_to(seq.get(), own, port.client, port.port) < 0) {
    error = "The MIDI port " + port.name + " cannot be opened.";
    return false;
  }
  seq_ = std::move(seq);
  ownPort_ = own;
  dest_ = port;
  song_ = std::move(song);
  fromMs_ = std::max<int64_t>(fromMs, 0);
  positionMs_ = fromMs_;
  ended_ = false;
  quit_ = false;
  thread_ = std::thread(&AlsaSeqPlayer::Run, this);
  return true;
}

void AlsaSeqPlayer::Run() {
  snd_seq_t* seq = seq_.get();
  auto send = [&](snd_seq_event_t& ev) {
    snd_seq_ev_set_source(&ev, ownPort_);
    snd_seq_ev_set_subs(&ev);
    snd_seq_ev_set_direct(&ev);
    snd_seq_event_output_direct(seq, &ev);
  };
  const Song& song = *song_;
  size_t i = song.EventIndexAtMs(fromMs_);
  const auto t0 = std::chrono::steady_clock::now() - std::chrono::milliseconds(fromMs_);
  std::unique_lock<std::mutex> lock(mu_);
  while (!quit_) {
    auto now = std::chrono::steady_clock::now();
    int64_t nowUs = std::chrono::duration_cast<std::chrono::microseconds>(now - t0).count();
    positionMs_ = std::min<int64_t>(nowUs / 1000, song.LengthMs());
    while (i < song.events.size() && song.SampleAt(song.events[i].units, 1000000) <= nowUs) {
      const SmfEvent& e = song.events[i++];
      snd_seq_event_t ev;
      snd_seq_ev_clear(&ev);
      int ch = e.status & 0x0F;
      switch (e.status & 0xF0) {
        case 0x80: snd_seq_ev_set_noteoff(&ev, ch, e.data1, e.data2); break;
        case 0x90: snd_seq_ev_set_noteon(&ev, ch, e.data1, e.data2); break;
        case 0xA0: snd_seq_ev_set_keypress(&ev, ch, e.data1, e.data2); break;
        case 0xB0: snd_seq_ev_set_controller(&ev, ch, e.data1, e.data2); break;
        case 0xC0: snd_seq_ev_set_pgmchange(&ev, ch, e.data1); break;
        case 0xD0: snd_seq_ev_set_chanpress(&ev, ch, e.data1); break;
        case 0xE0: snd_seq_ev_set_pitchbend(&ev, ch, ((e.data2 << 7) | e.data1) - 8192); break;
        case 0xF0: {
          const SysexData x = song.SysexOf(e);
          std::vector<uint8_t> msg{0xF0};
          msg.insert(msg.end(), x.data, x.data + x.length);
          msg.push_back(0xF7);
          snd_seq_ev_set_sysex(&ev, unsigned(msg.size()), msg.data());
          send(ev);
          continue;
        }
        default: continue;
      }
      send(ev);
    }
    if (i >= song.events.size() && nowUs >= song.LengthMs() * 1000) {
      ended_ = true;
      positionMs_ = song.LengthMs();
      cv_.wait(lock, [&] { return quit_; });
      break;
    }
    int64_t nextUs = i < song.events.size() ? song.SampleAt(song.events[i].units, 1000000)
                                            : song.LengthMs() * 1000;
    auto wait = std::chrono::microseconds(std::clamp<int64_t>(nextUs - nowUs, 0, 10000));
    cv_.wait_for(lock, wait);
  }
  // Release every note on the port before leaving it.
  for (int ch = 0; ch < 16; ++ch) {
    for (int cc : {64, 123, 120}) {
      snd_seq_event_t ev;
      snd_seq_ev_clear(&ev);
      snd_seq_ev_set_controller(&ev, ch, cc, 0);
      send(ev);
    }
  }
}

void AlsaSeqPlayer::Stop() {
  if (thread_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      quit_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  seq_.reset();
}

int64_t AlsaSeqPlayer::PositionMs() { return positionMs_; }

}  // namespace kv::media
