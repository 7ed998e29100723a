/* libprocess: image processing for the capture loop and the preview.
 *
 * Frames are unsigned 16-bit pixels, row-major, width pixels per row; preview images are
 * 3 bytes per pixel in the same geometry. Every function works in place or returns plain
 * numbers, allocates nothing per call, and accepts frames of up to 17,500,001 pixels.
 * FindStar and the star getters share the library's last-star record: call them from one
 * thread at a time (the capture thread). */
#ifndef TELVANE_PROCESS_H
#define TELVANE_PROCESS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TELVANE_PROCESS_API __attribute__((visibility("default")))

/* Removes hot and cold pixels in place. Result: number of pixels replaced. */
TELVANE_PROCESS_API int32_t denoise(uint16_t* frame, int32_t width, int32_t height);
/* Searches columns x1..x2, rows y1..y2 for a star; 1 when found, 0 otherwise. */
TELVANE_PROCESS_API int32_t FindStar(const uint16_t* frame, int32_t width, int32_t height,
                                     int32_t x1, int32_t y1, int32_t x2, int32_t y2);
/* Last found star (zeros before the first successful search). */
TELVANE_PROCESS_API float GetStarX(void);
TELVANE_PROCESS_API float GetStarY(void);
TELVANE_PROCESS_API int32_t GetXdia(void);
TELVANE_PROCESS_API int32_t GetYdia(void);
TELVANE_PROCESS_API int32_t GetBright(void);
TELVANE_PROCESS_API void bufferCopy(const void* source, void* destination, int32_t byteCount);
/* Automatic black and white levels, each 0..100 percent of full scale, low < high. */
TELVANE_PROCESS_API void AutoHistogram(const uint16_t* frame, int32_t width, int32_t height,
                                       int32_t* low, int32_t* high);
/* Maps [low%, high%] of full scale onto the full 16-bit range, clipping outside it. */
TELVANE_PROCESS_API void HistogramPreview(uint16_t* frame, int32_t width, int32_t height,
                                          int32_t low, int32_t high);
TELVANE_PROCESS_API void HistogramStretch(uint16_t* frame, int32_t width, int32_t height);
TELVANE_PROCESS_API void HFLIP(uint8_t* rgb, int32_t width, int32_t height);
TELVANE_PROCESS_API void INVERT(uint8_t* rgb, int32_t width, int32_t height);

#ifdef __cplusplus
}
#endif

#endif
