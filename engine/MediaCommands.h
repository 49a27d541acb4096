// The main window's media commands: every sound input and output goes through the media
// control string interface (mciSendStringA). Results are never checked; a failure shows up
// later as a sequencer that is not playing or a recording that is too short.
#pragma once
#include <QString>
#include <functional>

#include "winmm.h"


// Reply of the last command this thread sent with a reply (the characters before the first NUL).
extern thread_local QString MciReply;

// Sends one command line (UTF-8 to the A function, no callback window). With reply, the reply
// goes into MciReply (reply length 255) and is returned; without, no buffer is passed.
QString MciSend(const QString& cmd, bool reply = true);
// Sends one command with a local reply buffer of replyLength characters; returns the reply.
// Used by the length queries that keep their own buffer.
QString MciSendLocal(const QString& cmd, unsigned replyLength);

// Whole number formed by the leading digits of a reply (0 when there are none).
long ReplyNumber(const QString& reply);

// The recorder on the output WAVE file (which already holds the format template), with the
// delay it keeps before and after a song when it counts its time line itself. With a tap, the
// recorder also hands every block it writes to it (kvMediaSetRecordTap); true when it took the
// tap (the media layer may take none: then it records alone).
bool StartRecording(const QString& f, int delayMs, KvRecordTap tap = nullptr, void* context = nullptr);
// True when the recording just started counts its time line (the delays included) in frames:
// a fast take of the built-in synthesizer, which nobody needs to wait for.
bool RecordingIsFast();
void StopRecording();
// The sequencer on a MIDI file; port = cboDevice position - 1 (-1 is the mapper).
void StartPlayback(const QString& f, int port);
void StopPlayback();
// The Stop command: only stops the sequencer; the monitoring timer then closes it.
void StopCommand();

// Status queries of the monitoring timers.
QString StatusMode();      // "status PlayMedia mode" into MciReply
QString StatusPosition();  // "status PlayMedia position": at most 254 characters before the NUL
long StatusLength();       // "status PlayMedia length" through a local 256-character buffer

// Why the device opened under `alias` last failed (empty when it did not), in plain words;
// each device keeps its own, until it is opened again.
QString DeviceError(const QString& alias);

// The media layer the commands reach; tests replace it with a recording fake.
struct MediaLayer {
  std::function<MCIERROR(LPCSTR cmd, LPSTR reply, UINT replyLength, HWND callback)> sendString;
  std::function<UINT()> midiOutNumDevs;
  std::function<MMRESULT(UINT_PTR id, LPMIDIOUTCAPSA caps, UINT size)> midiOutCaps;
  std::function<const char*(LPCSTR alias)> deviceError;
  std::function<BOOL(LPCSTR alias, KvRecordTap tap, void* context)> recordTap;  // may be empty
};
// Replaces the media layer; an empty MediaLayer{} restores the real one.
void SetMediaLayer(MediaLayer layer);
const MediaLayer& CurrentMediaLayer();

// A media session of its own for the calling thread: while it lives, every media command sent
// from this thread (the conversion's recorder and sequencer, the MIDI information reader) goes
// to its own devices and built-in synthesizer, so conversions on several threads never meet.
// Elsewhere the commands go to the process's default session (the window's).
class ThreadMediaSession {
 public:
  ThreadMediaSession();
  ~ThreadMediaSession();
  ThreadMediaSession(const ThreadMediaSession&) = delete;
  ThreadMediaSession& operator=(const ThreadMediaSession&) = delete;
  bool ok() const { return m_session != nullptr; }

 private:
  HKVMEDIA m_session;
  MediaLayer m_layer;
  const MediaLayer* m_previous;
};
