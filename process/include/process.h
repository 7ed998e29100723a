/* libprocess: image processing for the capture loop and the preview.
 *
 * Frames are unsigned 16-bit pixels, row-major, width pixels per row; preview images are
 * 3 bytes per pixel in the same geometry. Coordinates are buffer coordinates: column x,
 * row y (row 0 = first row of the buffer), pixel centres at whole numbers.
 *
 * Every function works in place or returns plain numbers, allocates nothing per call, and
 * accepts frames of up to 17,500,001 pixels. A null pointer, a non-positive size or a larger
 * frame makes a call do nothing. All functions may be called from any thread: the static
 * work tables and the last-star record are each guarded by a mutex, so concurrent calls take
 * turns and the getters may read the record while FindStar runs elsewhere. Methods and
 * costs: process/README.md. */
#ifndef TELVANE_PROCESS_H
#define TELVANE_PROCESS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TELVANE_PROCESS_API __attribute__((visibility("default")))

/* Removes hot and cold pixels of a 2x2 colour-mosaic frame in place (each pixel against
 * its same-colour neighbours two pixels away). Result: number of pixels replaced. */
TELVANE_PROCESS_API int32_t denoise(uint16_t* frame, int32_t width, int32_t height);
/* Searches columns x1..x2, rows y1..y2 (inclusive, clipped to the frame) for a star;
 * 1 when found, 0 otherwise (also for an inverted box or one outside the frame). */
TELVANE_PROCESS_API int32_t FindStar(const uint16_t* frame, int32_t width, int32_t height,
                                     int32_t x1, int32_t y1, int32_t x2, int32_t y2);
/* Last found star: centre in buffer coordinates, half-maximum diameters in whole pixels,
 * brightness = value of its brightest pixel. Zeros before the first successful search;
 * a failed search leaves the previous values. */
TELVANE_PROCESS_API float GetStarX(void);
TELVANE_PROCESS_API float GetStarY(void);
TELVANE_PROCESS_API int32_t GetXdia(void);
TELVANE_PROCESS_API int32_t GetYdia(void);
TELVANE_PROCESS_API int32_t GetBright(void);
/* Copies byteCount bytes (overlapping ranges are handled); 0 or less copies nothing. */
TELVANE_PROCESS_API void bufferCopy(const void* source, void* destination, int32_t byteCount);
/* Automatic black and white levels, each 0..100 percent of full scale, low < high.
 * An unusable frame gives 0 and 100. */
TELVANE_PROCESS_API void AutoHistogram(const uint16_t* frame, int32_t width, int32_t height,
                                       int32_t* low, int32_t* high);
/* Maps [low%, high%] of full scale onto the full 16-bit range, clipping outside it.
 * Levels are clamped to 0..100; low >= high leaves a threshold at low. */
TELVANE_PROCESS_API void HistogramPreview(uint16_t* frame, int32_t width, int32_t height,
                                          int32_t low, int32_t high);
/* Non-linear stretch anchored on the sky background: lifts faint signal, keeps 0 and
 * full scale. */
TELVANE_PROCESS_API void HistogramStretch(uint16_t* frame, int32_t width, int32_t height);
/* Mirrors each row of the 24-bit preview image left to right. */
TELVANE_PROCESS_API void HFLIP(uint8_t* rgb, int32_t width, int32_t height);
/* "Invert Image": colour negative of the 24-bit preview image (each byte -> 255 - byte). */
TELVANE_PROCESS_API void INVERT(uint8_t* rgb, int32_t width, int32_t height);

#ifdef __cplusplus
}
#endif

#endif
