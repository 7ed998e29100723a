# script: compiles and runs a script file headless (or prints its assembly listing).
target_sources(telvane-cli PRIVATE ${CMAKE_CURRENT_LIST_DIR}/cmd_script.cpp)
target_link_libraries(telvane-cli PRIVATE telvane_script)
