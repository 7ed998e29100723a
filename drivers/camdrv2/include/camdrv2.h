/* libcamdrv2.so: the VER2 camera driver. Exports the common driver-library set of
 * telvane/camdrv_api.h plus setexpomode and SetDelayParameters (no CloseCamera).
 *
 * VER2 specifics a host needs:
 * - Exposure / ThreadExposure return 0 when started (Exposure: when done) and 1 when refused
 *   (an exposure is running, or binning x (start + size) exceeds the frame selected by ShowOB).
 * - FrameSize modes: 1 full resolution, 2 binned 2x2; other modes store -1, -1.
 * - Buffer modes 0..5 (SetBufferMode clamps to 5); SetColorMode 1 (primary mosaic) or 2
 *   (complementary mosaic) selects the reconstruction of buffer mode 4.
 * - setexpomode: 0 "1x1 NVBE", 1 "1x1 VBE", 2 "2X2".
 */
#ifndef TELVANE_CAMDRV2_H
#define TELVANE_CAMDRV2_H

#include "telvane/camdrv_api.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TELVANE_CAMDRV_DECLARE(name, result, params) \
  __attribute__((visibility("default"))) result name params;
TELVANE_CAMDRV_COMMON_EXPORTS(TELVANE_CAMDRV_DECLARE)
TELVANE_CAMDRV2_EXTRA_EXPORTS(TELVANE_CAMDRV_DECLARE)
#undef TELVANE_CAMDRV_DECLARE

#ifdef __cplusplus
}
#endif

#endif /* TELVANE_CAMDRV2_H */
