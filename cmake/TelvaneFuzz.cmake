# telvane_add_fuzzer(FUZZER <target> SOURCE <file> ENTRY <library>
#                    REPLAY_TEST <target> REPLAY_SOURCE <file> DIR_MACRO <name>)
#
# Every fuzzed parser keeps its checks in an entry library, so the libFuzzer program (only
# with TELVANE_FUZZ) and the replay test (every build, replays corpus/ and regressions/ of
# this folder, whose path it receives as DIR_MACRO) exercise the same code.
function(telvane_add_fuzzer)
  cmake_parse_arguments(F "" "FUZZER;SOURCE;ENTRY;REPLAY_TEST;REPLAY_SOURCE;DIR_MACRO" "" ${ARGN})
  if(TELVANE_FUZZ)
    add_executable(${F_FUZZER} ${F_SOURCE})
    target_link_libraries(${F_FUZZER} PRIVATE ${F_ENTRY})
    target_link_options(${F_FUZZER} PRIVATE -fsanitize=fuzzer)
  endif()
  if(TELVANE_TESTS)
    add_executable(${F_REPLAY_TEST} ${F_REPLAY_SOURCE})
    target_link_libraries(${F_REPLAY_TEST} PRIVATE ${F_ENTRY} GTest::gtest_main)
    target_compile_definitions(${F_REPLAY_TEST} PRIVATE
                               ${F_DIR_MACRO}="${CMAKE_CURRENT_SOURCE_DIR}")
    gtest_discover_tests(${F_REPLAY_TEST})
  endif()
endfunction()
