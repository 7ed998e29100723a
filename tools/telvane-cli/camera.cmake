target_sources(telvane-cli PRIVATE cmd_camera.cpp)
