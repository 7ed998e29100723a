/* The flat C interface every Telvane camera driver library (libcamdrv2.so, libcamdrv6.so, ...)
 * exports. A host loads a library with dlopen and resolves these names with dlsym; the
 * typedefs below are the function-pointer types to cast the symbols to.
 *
 * Contract shared by all libraries:
 * - One camera per library, all state static; there is no handle.
 * - "int" is 32-bit signed; results are small integers (no errors cross this interface).
 * - Exposure/ThreadExposure arguments: exposure ms, x start, y start, width, height (binned
 *   pixels of the frame selected by ShowOB), binning, exposure option.
 * - Threading: ThreadExposure returns at once and completes on a worker thread; poll
 *   IsExposing until it returns 0 before reading the image buffer or starting another
 *   exposure. CancelExposure may be called from another thread while a readout runs. The
 *   setters only change values used by the next exposure.
 * - getbufptr's buffer is owned by the library for its whole life; copy it out with
 *   GetBuffer (count pixels converted in the current buffer mode) or read it while idle.
 */
#ifndef TELVANE_CAMDRV_API_H
#define TELVANE_CAMDRV_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Buffer modes of GetBuffer (SetBufferMode). */
enum {
  CAMDRV_BUFFER_NATIVE16 = 0, /* 2 bytes per pixel, host order */
  CAMDRV_BUFFER_BYTE = 1,     /* p >> 8 */
  CAMDRV_BUFFER_GREY24 = 2,   /* three equal bytes p >> 8 */
  CAMDRV_BUFFER_GREY48 = 3,   /* three equal 16-bit words p */
  CAMDRV_BUFFER_COLOUR24 = 4, /* colour reconstruction, (height - 1) rows of 3-byte pixels */
  CAMDRV_BUFFER_FITS16 = 5,   /* p - 32768, big-endian */
  CAMDRV_BUFFER_INT32PAIR = 6, /* p as int32 then int32 zero (libraries with 7 modes) */
  CAMDRV_BUFFER_INT32 = 7      /* p as int32 (libraries with 7 modes) */
};

/* X(name, result, parameter list) for the seventeen functions every library exports. */
#define TELVANE_CAMDRV_COMMON_EXPORTS(X)                                                  \
  X(OpenCamera, int, (int index))                                                       \
  X(checkdevice, int, (int index))                                                      \
  X(GetName, const char*, (void))                                                       \
  X(Copyright, const char*, (void))                                                     \
  X(PixSize, void, (int bin, double* width, double* height))                            \
  X(FrameSize, void, (int mode, int* width, int* height))                               \
  X(ShowOB, void, (int on))                                                             \
  X(SetColorMode, void, (int mode))                                                     \
  X(setgain, void, (int gain))                                                          \
  X(setoffset, void, (int offset))                                                      \
  X(SetBufferMode, void, (int mode))                                                    \
  X(Exposure, int,                                                                      \
    (int exposureMs, int xStart, int yStart, int width, int height, int binning,        \
     int option))                                                                       \
  X(ThreadExposure, int,                                                                \
    (int exposureMs, int xStart, int yStart, int width, int height, int binning,        \
     int option))                                                                       \
  X(IsExposing, int, (void))                                                            \
  X(CancelExposure, void, (void))                                                       \
  X(GetBuffer, void, (void* destination, int count))                                    \
  X(getbufptr, uint16_t*, (void))

/* Extras of libcamdrv2.so (VER2). setexpomode also exists in the VAV6 libraries. */
#define TELVANE_CAMDRV2_EXTRA_EXPORTS(X)                                                  \
  X(setexpomode, void, (int mode))                                                      \
  X(SetDelayParameters, void, (int first, int second))

/* CloseCamera exists in every library except libcamdrv2.so. */
#define TELVANE_CAMDRV_CLOSE_EXPORT(X) X(CloseCamera, void, (void))

/* Function-pointer types: camdrv_OpenCamera_fn, camdrv_GetBuffer_fn, ... */
#define TELVANE_CAMDRV_TYPEDEF(name, result, params) typedef result(*camdrv_##name##_fn) params;
TELVANE_CAMDRV_COMMON_EXPORTS(TELVANE_CAMDRV_TYPEDEF)
TELVANE_CAMDRV2_EXTRA_EXPORTS(TELVANE_CAMDRV_TYPEDEF)
TELVANE_CAMDRV_CLOSE_EXPORT(TELVANE_CAMDRV_TYPEDEF)
#undef TELVANE_CAMDRV_TYPEDEF

#ifdef __cplusplus
}
#endif

#endif /* TELVANE_CAMDRV_API_H */
