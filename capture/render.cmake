# Preview rendering and focus analysis (Qt-free): what the preview, the histogram chart and the
# focus view show for one frame. telvane_capture links it.
add_library(telvane_render STATIC
  ${CMAKE_CURRENT_LIST_DIR}/render_display.cpp
  ${CMAKE_CURRENT_LIST_DIR}/focus_analysis.cpp
)
target_include_directories(telvane_render PUBLIC ${CMAKE_CURRENT_LIST_DIR}/include)

if(TELVANE_TESTS)
  add_executable(render_tests
    ${CMAKE_CURRENT_LIST_DIR}/tests/render_display_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/focus_analysis_test.cpp
  )
  target_link_libraries(render_tests PRIVATE telvane_render GTest::gtest_main)
  gtest_discover_tests(render_tests)
endif()

if(TELVANE_BENCH)
  add_executable(render_bench ${CMAKE_CURRENT_LIST_DIR}/bench/render_bench.cpp)
  target_link_libraries(render_bench PRIVATE telvane_render process benchmark::benchmark)

  # Not a benchmark: prints the FWHM accuracy table of the focus analysis against a
  # least-squares Gaussian fit on simulated stars.
  add_executable(focus_accuracy ${CMAKE_CURRENT_LIST_DIR}/bench/focus_accuracy.cpp)
  target_link_libraries(focus_accuracy PRIVATE telvane_render process)
endif()
