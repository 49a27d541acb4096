/* L3CODECP.ACM — the system's MP3 codec: a small C interface VBMP3.dll loads with dlopen from the
 * system folder. The codec chooses its own bit rate:
 *   32000-48000 Hz: 128 kbit/s stereo (joint stereo), 64 kbit/s mono
 *   16000-24000 Hz:  64 kbit/s stereo (joint stereo), 32 kbit/s mono
 */
#ifndef KORVESSA_L3CODEC_H
#define KORVESSA_L3CODEC_H

#include <stdint.h>

#ifdef __cplusplus
#define L3CODEC_API extern "C" __attribute__((visibility("default")))
#else
#define L3CODEC_API __attribute__((visibility("default")))
#endif

typedef struct L3CODEC_STREAM L3CODEC_STREAM;

typedef struct L3CODEC_FORMAT {
  int32_t sampleRate;    /* Hz */
  int32_t channels;      /* 1 or 2 */
  int32_t bitsPerSample; /* of the WAVE input */
  int32_t bitrateKbps;   /* chosen by the codec */
  int64_t totalFrames;   /* input sample frames */
} L3CODEC_FORMAT;

#define L3CODEC_MORE 0
#define L3CODEC_DONE 1

/* Opens a WAVE file for encoding; NULL when it cannot be read or encoded (fmt untouched then). */
L3CODEC_API L3CODEC_STREAM* l3codec_open(const char* wavPath, L3CODEC_FORMAT* fmt);
/* Starts the MP3 output (a temporary name beside mp3Path until done). 0 on success. */
L3CODEC_API int32_t l3codec_start(L3CODEC_STREAM* s, const char* mp3Path);
/* Encodes one MPEG frame of input. L3CODEC_MORE, L3CODEC_DONE (MP3 renamed into place) or a negative error. */
L3CODEC_API int32_t l3codec_encode(L3CODEC_STREAM* s, int64_t* framesDone);
/* Releases the stream; an unfinished MP3 is removed. */
L3CODEC_API void l3codec_close(L3CODEC_STREAM* s);

/* Function-pointer types for dlsym. */
typedef L3CODEC_STREAM* (*l3codec_open_fn)(const char*, L3CODEC_FORMAT*);
typedef int32_t (*l3codec_start_fn)(L3CODEC_STREAM*, const char*);
typedef int32_t (*l3codec_encode_fn)(L3CODEC_STREAM*, int64_t*);
typedef void (*l3codec_close_fn)(L3CODEC_STREAM*);

#endif
