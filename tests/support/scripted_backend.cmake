# The scripted capture backend: a test double that the capture and server
# tests and the capture benchmark link. Included from tests/support and, when
# the tests are not built, from the benchmarks; the first include defines it.
if(NOT TARGET brindle_scripted_backend)
  add_library(brindle_scripted_backend STATIC ${CMAKE_CURRENT_LIST_DIR}/scripted_backend.cpp)
  target_include_directories(brindle_scripted_backend PUBLIC ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(brindle_scripted_backend PUBLIC brindle_capture)
endif()
