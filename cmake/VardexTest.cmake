# Helpers for the test folders: one executable per test source file.
#
# vardex_gtest(NAME SOURCES... LIBS ...) builds a GoogleTest executable and
# registers its cases with ctest. vardex_gtest_folder(PREFIX LIBS ...
# INCLUDES ... DEFINITIONS ... DEPENDS ...) builds one, PREFIX_tests, of
# every *_test.cpp of the calling folder: one link per folder instead of one
# per file (ctest still runs each case on its own). vardex_qtest(...) builds
# a QTest executable, run on the offscreen platform.
include(GoogleTest)

function(vardex_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    VARDEX_SAMPLES_DIR="${VARDEX_SAMPLES_DIR}"
    VARDEX_TEST_DATA_DIR="${VARDEX_TEST_DATA_DIR}")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  vardex_test_precompile(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

function(vardex_gtest_folder prefix)
  cmake_parse_arguments(ARG "" "" "LIBS;INCLUDES;DEFINITIONS;DEPENDS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  set(target ${prefix}_tests)
  vardex_gtest(${target} SOURCES ${sources} LIBS ${ARG_LIBS})
  target_include_directories(${target} PRIVATE ${ARG_INCLUDES})
  target_compile_definitions(${target} PRIVATE ${ARG_DEFINITIONS})
  if(ARG_DEPENDS)
    add_dependencies(${target} ${ARG_DEPENDS})
  endif()
endfunction()

function(vardex_qtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Test)
  target_compile_definitions(${name} PRIVATE
    VARDEX_SAMPLES_DIR="${VARDEX_SAMPLES_DIR}"
    VARDEX_TEST_DATA_DIR="${VARDEX_TEST_DATA_DIR}")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8")
endfunction()
