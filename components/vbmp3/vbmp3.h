/* VBMP3.dll — MP3 encoding through the system's MP3 codec (L3CODECP.ACM in the system folder) on a
 * thread of its own, and MP3 file information. Load with dlopen and look functions up with dlsym.
 * Text is NUL-terminated UTF-8. Results are 32-bit; "true" is non-zero.
 *
 * Encoding:
 *   vbmp3_init();
 *   vbmp3_encodeOpen(wavPath, info);   info[0] Hz, info[1] channels, info[2] kbit/s the codec chose,
 *                                      info[3] total input sample frames (the unit of the progress)
 *   vbmp3_encodeStart(mp3Path);        encoding runs in the background
 *   while (vbmp3_getEncodeState(&done, &total) == VBMP3_STATE_ENCODING) ... poll
 *   vbmp3_free();                      stops a running encode; an unfinished MP3 is removed
 *
 * The codec is looked for in the system folder (GetSystemDirectoryA: build/bin/system, or
 * $KORVESSA_SYSTEM_DIR), then in the folder "system" beside VBMP3.dll.
 */
#ifndef KORVESSA_VBMP3_H
#define KORVESSA_VBMP3_H

#include <stdint.h>

#ifdef __cplusplus
#define VBMP3_API extern "C" __attribute__((visibility("default")))
#else
#define VBMP3_API __attribute__((visibility("default")))
#endif

/* vbmp3_getEncodeState results */
#define VBMP3_STATE_IDLE 0        /* nothing started, or finished successfully */
#define VBMP3_STATE_ENCODING 1
#define VBMP3_STATE_FAILED (-1)   /* the encode stopped on an error; no MP3 was left */
#define VBMP3_STATE_STOPPED (-2)  /* stopped by vbmp3_free before the end */

typedef struct VBMP3_INFO {
  char title[128];   /* ID3 title (ID3v2 or ID3v1), UTF-8, empty when absent */
  char artist[128];  /* ID3 artist, UTF-8, empty when absent */
  int32_t v[4];      /* v[0] sampling rate Hz, v[1] channels, v[2] average kbit/s, v[3] playing time in whole seconds (rounded) */
} VBMP3_INFO;

VBMP3_API int32_t vbmp3_init(void);
VBMP3_API int32_t vbmp3_encodeOpen(const char* wavPath, int32_t info[4]);  /* true when the WAVE can be encoded */
VBMP3_API int32_t vbmp3_encodeStart(const char* mp3Path);                  /* true when the encode started */
VBMP3_API int32_t vbmp3_getEncodeState(int32_t* progress, int32_t* other); /* progress: frames done; other: total */
VBMP3_API int32_t vbmp3_free(void);
VBMP3_API int32_t vbmp3_open(const char* mp3Path, VBMP3_INFO* info);       /* true for a readable MP3 file */

typedef int32_t (*vbmp3_init_fn)(void);
typedef int32_t (*vbmp3_encodeOpen_fn)(const char*, int32_t*);
typedef int32_t (*vbmp3_encodeStart_fn)(const char*);
typedef int32_t (*vbmp3_getEncodeState_fn)(int32_t*, int32_t*);
typedef int32_t (*vbmp3_free_fn)(void);
typedef int32_t (*vbmp3_open_fn)(const char*, VBMP3_INFO*);

#endif
