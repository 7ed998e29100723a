// libcamdrv2.so is camdrv2_core linked whole; CMake wants at least one source of its own.
