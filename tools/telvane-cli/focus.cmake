target_sources(telvane-cli PRIVATE cmd_focus.cpp)

# focus: reads FITS frames with cfitsio, finds the star with libprocess, measures it with the
# preview/focus computation.
pkg_check_modules(TELVANE_FOCUS_CFITSIO REQUIRED IMPORTED_TARGET cfitsio)
target_link_libraries(telvane-cli PRIVATE telvane_render process PkgConfig::TELVANE_FOCUS_CFITSIO)

if(TELVANE_TESTS)
  # Runs the built telvane-cli on FITS files that the test writes itself.
  add_executable(focus_cli_tests ${PROJECT_SOURCE_DIR}/capture/tests/focus_cli_test.cpp)
  target_link_libraries(focus_cli_tests PRIVATE GTest::gtest_main PkgConfig::TELVANE_FOCUS_CFITSIO)
  target_compile_definitions(focus_cli_tests PRIVATE TELVANE_CLI_PATH="$<TARGET_FILE:telvane-cli>")
  add_dependencies(focus_cli_tests telvane-cli)
  gtest_discover_tests(focus_cli_tests)
endif()
