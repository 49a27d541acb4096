/* gogo.dll — MP3 encoder library (LAME inside), driven one MPEG frame at a time.
 * Load with dlopen(".../gogo.dll") and look the functions up with dlsym by these names.
 * Every function returns a 32-bit result; text is passed as NUL-terminated UTF-8.
 *
 * One encode:
 *   MPGE_initializeWorkVB()                    0 = ready
 *   MPGE_getUnitStatesVB(&states)
 *   MPGE_setConfigureVB(GOGO_ITEM_INPUT_FILE,  0, wavPath)
 *   MPGE_setConfigureVB(GOGO_ITEM_OUTPUT_FILE, 0, mp3Path)
 *   MPGE_setConfigureVB(GOGO_ITEM_INPUT_RATE,  44100, NULL)
 *   MPGE_setConfigureVB(GOGO_ITEM_CHANNEL_MODE, GOGO_MODE_JOINT_STEREO, NULL)
 *   MPGE_setConfigureVB(GOGO_ITEM_BITRATE,     128, NULL)
 *   MPGE_detectConfigureVB()                   0 ready, 13 input cannot be opened, other = cannot analyse
 *   MPGE_getConfigureVB(GOGO_ITEM_TOTAL_FRAMES, &total)
 *   while ((r = MPGE_processFrameVB()) == 0) ...   1 = finished, other = error code
 *   MPGE_closeCoderVB(); MPGE_endCoderVB();
 *
 * The MP3 is written under a temporary name beside the output path and renamed when the last frame is
 * done. Closing before that, or a failing frame, removes it: no partial MP3 is ever left behind.
 */
#ifndef KORVESSA_GOGO_H
#define KORVESSA_GOGO_H

#include <stdint.h>

#ifdef __cplusplus
#define GOGO_API extern "C" __attribute__((visibility("default")))
#else
#define GOGO_API __attribute__((visibility("default")))
#endif

/* Configuration items. */
#define GOGO_ITEM_INPUT_FILE 1    /* text: WAVE file path */
#define GOGO_ITEM_OUTPUT_FILE 2   /* text: MP3 file path */
#define GOGO_ITEM_CHANNEL_MODE 3  /* GOGO_MODE_*; mono input stays mono */
#define GOGO_ITEM_BITRATE 4       /* kbit/s (CBR); the nearest rate MPEG allows at the sampling rate */
#define GOGO_ITEM_QUALITY 5       /* LAME quality 0 (best) .. 9 (fastest); default 5 */
#define GOGO_ITEM_INPUT_RATE 6    /* Hz; overrides the WAVE header when non-zero */
#define GOGO_ITEM_TOTAL_FRAMES 15 /* get only: MPGE_processFrameVB calls the encode takes, the finishing one included */

#define GOGO_MODE_STEREO 1
#define GOGO_MODE_JOINT_STEREO 2

/* Results. */
#define GOGO_OK 0
#define GOGO_FINISHED 1           /* MPGE_processFrameVB: the input is done, the MP3 is complete */
#define GOGO_ERR_PARAM 3          /* unknown item or bad value */
#define GOGO_ERR_STATE 4          /* call out of order (e.g. processFrame before a successful detect) */
#define GOGO_ERR_INPUT_OPEN 13    /* the input file cannot be opened */
#define GOGO_ERR_INPUT_FORMAT 14  /* not a WAVE file, or a format that cannot be encoded */
#define GOGO_ERR_OUTPUT_OPEN 15   /* the MP3 file cannot be created */
#define GOGO_ERR_ENCODE 16        /* encoding or writing failed mid-way */

#define GOGO_VERSION_CODE 100     /* 1.00 */

GOGO_API int32_t MPGE_getVersionVB(int32_t* code, char* text /* at least 260 bytes */);
GOGO_API int32_t MPGE_initializeWorkVB(void);
GOGO_API int32_t MPGE_getUnitStatesVB(int32_t* states);
GOGO_API int32_t MPGE_setConfigureVB(int32_t item, int32_t value, const char* text);
GOGO_API int32_t MPGE_detectConfigureVB(void);
GOGO_API int32_t MPGE_getConfigureVB(int32_t item, int32_t* value);
GOGO_API int32_t MPGE_processFrameVB(void);
GOGO_API int32_t MPGE_closeCoderVB(void);
GOGO_API int32_t MPGE_endCoderVB(void);

#endif
