// The FLAC and Ogg Opus encoder as a library the program loads only when one of those formats
// is asked for: FFmpeg and its codec libraries then stay out of every other run's memory.
#pragma once

extern "C" {
// Encodes the WAVE file `wav` into `out` (a temporary name, then renamed) as FLAC (codec 1) or
// Ogg Opus (codec 2) with `title` as its TITLE tag, or as WMA (codec 3) exactly as
// vbwav2wma.dll encodes with the program's settings (64 kbit/s, 44100 Hz, stereo, `title`). keepGoing(context) is asked after every
// block; 0 cancels. Returns 1 when `out` is complete; else 0 with the reason in `error`.
typedef int (*KvKeepGoing)(void* context);
typedef int (*KvEncodeOwnFormatFn)(const char* wav, const char* out, int codec, const char* title,
                                   KvKeepGoing keepGoing, void* context, char* error, int errorSize);
int kvEncodeOwnFormat(const char* wav, const char* out, int codec, const char* title, KvKeepGoing keepGoing,
                      void* context, char* error, int errorSize);
}

// The file name the program loads it by (beside its other libraries).
#define KV_OWN_FORMATS_LIBRARY "libkorvessa_formats.so"
