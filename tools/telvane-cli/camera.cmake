target_sources(telvane-cli PRIVATE cmd_camera.cpp)

# cameras / capture: the camera registry and bindings, the capture thread, and the simulated
# bus (--simulate). The driver libraries are not linked: the bindings dlopen them at run time
# from <build>/lib, so building the CLI also builds them.
target_link_libraries(telvane-cli PRIVATE telvane_cameras telvane_capture telvane_sim)
if(TARGET camdrv2)
  add_dependencies(telvane-cli camdrv2)
endif()

if(TELVANE_TESTS AND TARGET camdrv2)
  # Runs the built program against the simulated camera: listing, captures, naming, usage
  # errors and Ctrl-C. The capture thread and the driver's readout thread both run.
  add_test(NAME telvane_cli_camera_commands
           COMMAND /usr/bin/python3 ${PROJECT_SOURCE_DIR}/cameras/tests/cli_camera_test.py
                   $<TARGET_FILE:telvane-cli> ${CMAKE_CURRENT_BINARY_DIR}/camera_cli_test)
  set_tests_properties(telvane_cli_camera_commands PROPERTIES LABELS threaded TIMEOUT 300)
endif()
