target_sources(telvane-cli PRIVATE cmd_focus.cpp)
