# Preview rendering and focus analysis (Qt-free).
add_library(telvane_render STATIC display_stub.cpp)
target_include_directories(telvane_render PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
