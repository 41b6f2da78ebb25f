# Helpers shared by every subsystem's CMakeLists.txt.

# brindle_library(NAME SOURCES ... [PUBLIC ...] [PRIVATE ...])
# One static library per subsystem folder; "src/" is the include root, so
# code includes "common/log.h", "protocol/packet.h" and so on.
# PUBLIC lists what the library's headers include (its users need it too);
# PRIVATE what only its sources use. Include arrows run one way:
# app -> connections/capture -> protocol/imagestore/image -> platform -> common.
function(brindle_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
endfunction()

# brindle_test(NAME SOURCES ... [DEPS ...])
# One GoogleTest binary per subsystem; every test case becomes a CTest test.
# The shared helpers of tests/support come with it.
function(brindle_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} brindle_test_support GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    BRINDLE_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
    BRINDLE_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;BRINDLE_TEST=1" TIMEOUT 300)
endfunction()

# brindle_bench(NAME SOURCES ... [DEPS ...])
function(brindle_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark Threads::Threads)
endfunction()
