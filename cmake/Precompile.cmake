# Precompiled headers, with GCC only (a header GCC cannot use is compiled as
# text instead; clang refuses one built with other flags).
#
# vardex_precompile(TARGET HEADERS...) gives a library of many sources one
# header of the system and Qt headers they share. vardex_test_precompile(
# TARGET) lets a GoogleTest test reuse one header made once for all of them:
# GoogleTest and the standard library. QtTest cases get none: a header of
# whole Qt modules takes longer to load in each of their few sources than
# the sources take to compile.
set(VARDEX_PRECOMPILE OFF)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set(VARDEX_PRECOMPILE ON)
endif()
set(VARDEX_STD_HEADERS <algorithm> <cstdint> <cstring> <functional> <map> <memory> <set>
  <string> <vector>)

function(vardex_precompile target)
  if(VARDEX_PRECOMPILE)
    target_precompile_headers(${target} PRIVATE ${VARDEX_STD_HEADERS} ${ARGN})
  endif()
endfunction()

function(vardex_test_precompile target)
  if(NOT VARDEX_PRECOMPILE)
    return()
  endif()
  set(host vardex_test_pch)
  if(NOT TARGET ${host})
    # Made in the first test folder, with the compile options of tests.
    file(WRITE ${CMAKE_BINARY_DIR}/${host}.cpp "")
    add_library(${host} STATIC ${CMAKE_BINARY_DIR}/${host}.cpp)
    target_link_libraries(${host} PRIVATE GTest::gtest)
    target_compile_definitions(${host} PRIVATE
      VARDEX_SAMPLES_DIR="${VARDEX_SAMPLES_DIR}" VARDEX_TEST_DATA_DIR="${VARDEX_TEST_DATA_DIR}")
    target_precompile_headers(${host} PRIVATE ${VARDEX_STD_HEADERS}
      <gtest/gtest.h> <filesystem> <fstream> <sstream>)
    # Qt adds -fPIC to whoever links it, and GCC loads a header only into a
    # compilation with the same code model: the header and every test get it.
    target_compile_options(${host} PRIVATE -fPIC)
  endif()
  target_compile_options(${target} PRIVATE -fPIC)
  target_precompile_headers(${target} REUSE_FROM ${host})
endfunction()

# vardex_qt_test_precompile(HOST LIBS... TARGETS...) gives the QTest cases
# of one folder a header made once of the Qt headers they share: QtTest
# (whose umbrella brings all of QtCore) and the widgets they look at. Per
# folder, because Qt defines the folder into every test (QTEST_MAIN's
# source and build folders) and GCC takes a header only where those match.
function(vardex_qt_test_precompile host)
  cmake_parse_arguments(ARG "" "" "LIBS;TARGETS" ${ARGN})
  if(NOT VARDEX_PRECOMPILE)
    return()
  endif()
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${host}.cpp "")
  add_library(${host} STATIC ${CMAKE_CURRENT_BINARY_DIR}/${host}.cpp)
  set_target_properties(${host} PROPERTIES AUTOMOC OFF)
  target_link_libraries(${host} PRIVATE ${ARG_LIBS} Qt6::Test)
  target_compile_definitions(${host} PRIVATE
    VARDEX_SAMPLES_DIR="${VARDEX_SAMPLES_DIR}" VARDEX_TEST_DATA_DIR="${VARDEX_TEST_DATA_DIR}")
  target_precompile_headers(${host} PRIVATE ${VARDEX_STD_HEADERS} <QtTest> <QApplication>
    <QComboBox> <QDir> <QDirIterator> <QElapsedTimer> <QFile> <QLabel> <QLineEdit>
    <QMainWindow> <QMenu> <QMenuBar> <QMessageBox> <QProcess> <QPushButton> <QStatusBar>
    <QTableWidget> <QTemporaryDir> <QTimer> <QTreeWidget>)
  foreach(target IN LISTS ARG_TARGETS)
    target_precompile_headers(${target} REUSE_FROM ${host})
  endforeach()
endfunction()
