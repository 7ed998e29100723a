target_sources(telvane-cli PRIVATE cmd_script.cpp)
