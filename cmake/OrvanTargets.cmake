# Common settings for every target of the project.

set(ORVAN_WARNINGS -Wall -Wextra -Wpedantic)

set(ORVAN_SANITIZER_FLAGS)
if(ORVAN_SANITIZE)
  set(ORVAN_SANITIZER_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer
      -fno-sanitize-recover=undefined)
elseif(ORVAN_TSAN)
  set(ORVAN_SANITIZER_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
endif()
# Fuzz builds instrument everything for libFuzzer, with ASan and UBSan.
if(ORVAN_FUZZ)
  list(APPEND ORVAN_SANITIZER_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer
       -fno-sanitize-recover=undefined)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
if(ORVAN_SANITIZER_FLAGS)
  add_compile_options(${ORVAN_SANITIZER_FLAGS})
  add_link_options(${ORVAN_SANITIZER_FLAGS})
endif()

function(orvan_target_defaults target)
  target_compile_options(${target} PRIVATE ${ORVAN_WARNINGS})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# orvan_library(NAME DIR [SOURCES ...]): a static library of every .cpp in DIR
# (or of the SOURCES given).
function(orvan_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;GLOB;EXCLUDE" ${ARGN})
  if(ARG_SOURCES)
    set(srcs ${ARG_SOURCES})
  else()
    if(NOT ARG_GLOB)
      set(ARG_GLOB *.cpp)
    endif()
    set(srcs)
    foreach(pattern IN LISTS ARG_GLOB)
      file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${pattern})
      list(APPEND srcs ${found})
    endforeach()
    foreach(pattern IN LISTS ARG_EXCLUDE)
      list(FILTER srcs EXCLUDE REGEX "${pattern}")
    endforeach()
  endif()
  add_library(${name} STATIC ${srcs})
  orvan_target_defaults(${name})
endfunction()

# orvan_test(NAME [OWN_MAIN] LIBS ... [GLOB ...] [LABELS ...]): one GoogleTest
# program of every .cpp in the current folder, each test registered with
# ctest. OWN_MAIN: the sources bring main() (for example to make a
# QApplication first). Label Qt-free programs "qtfree": the ThreadSanitizer
# run takes those.
#
# Test code only drives the libraries, which are built as the tree says, so
# it is compiled without optimisation (optimising it doubled the tests'
# compile time and bought nothing), and GoogleTest, the common standard
# headers and, with QT GUI or QT WIDGETS, Qt's headers are precompiled once
# per kind of program and shared by every program of that kind (making one
# costs 8-18 CPU seconds; each tree has a dozen test programs).
set(ORVAN_TEST_PCH <gtest/gtest.h> <algorithm> <atomic> <chrono> <cstdint> <cstring>
    <filesystem> <fstream> <functional> <memory> <string> <thread> <vector>)
set(ORVAN_TEST_PCH_GUI <QGuiApplication> <QImage> <QString>)
set(ORVAN_TEST_PCH_WIDGETS ${ORVAN_TEST_PCH_GUI} <QApplication> <QComboBox> <QLabel>
    <QPushButton> <QTest> <QWidget>)

# QtTest defines each program's own folders for QFINDTESTDATA, which the tests
# do not use; those differing definitions would make the shared header invalid.
set(ORVAN_TEST_UNDEFINES -UQT_TESTCASE_BUILDDIR -UQT_TESTCASE_SOURCEDIR)

# orvan_test_pch(KIND): the target that makes the precompiled header of one
# kind of test program (PLAIN, GUI or WIDGETS). It is compiled with the same
# options as the programs that reuse it: GCC ignores a header made with other
# code-generation options (-Winvalid-pch on the tests says so).
function(orvan_test_pch kind out_var)
  set(donor orvan_testpch_${kind})
  if(NOT TARGET ${donor})
    set(source ${PROJECT_BINARY_DIR}/orvan_testpch.cpp)
    if(NOT EXISTS ${source})
      file(WRITE ${source} "// Makes the test programs' shared precompiled header.\n")
    endif()
    add_library(${donor} OBJECT ${source})
    orvan_target_defaults(${donor})
    target_link_libraries(${donor} PRIVATE GTest::gtest GTest::gmock)
    target_compile_options(${donor} PRIVATE -O0)
    set(pch ${ORVAN_TEST_PCH})
    if(kind STREQUAL "GUI")
      target_link_libraries(${donor} PRIVATE Qt6::Gui)
      list(APPEND pch ${ORVAN_TEST_PCH_GUI})
    elseif(kind STREQUAL "WIDGETS")
      target_link_libraries(${donor} PRIVATE Qt6::Widgets Qt6::Test)
      list(APPEND pch ${ORVAN_TEST_PCH_WIDGETS})
      target_compile_options(${donor} PRIVATE ${ORVAN_TEST_UNDEFINES})
    endif()
    target_precompile_headers(${donor} PRIVATE ${pch})
  endif()
  set(${out_var} ${donor} PARENT_SCOPE)
endfunction()
function(orvan_test name)
  cmake_parse_arguments(ARG "OWN_MAIN" "QT" "LIBS;GLOB;LABELS" ${ARGN})
  if(NOT ARG_GLOB)
    set(ARG_GLOB *.cpp)
  endif()
  set(srcs)
  foreach(pattern IN LISTS ARG_GLOB)
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${pattern})
    list(APPEND srcs ${found})
  endforeach()
  add_executable(${name} ${srcs})
  orvan_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} orvan_testsupport GTest::gtest GTest::gmock)
  if(NOT ARG_OWN_MAIN)
    target_link_libraries(${name} PRIVATE orvan_testmain)
  endif()
  target_compile_definitions(${name} PRIVATE ORVAN_BIN_DIR="${PROJECT_BINARY_DIR}"
                             ORVAN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  target_compile_options(${name} PRIVATE -O0 -Winvalid-pch)
  set(kind PLAIN)
  if(ARG_QT)
    set(kind ${ARG_QT})
  endif()
  orvan_test_pch(${kind} donor)
  target_precompile_headers(${name} REUSE_FROM ${donor})
  if(kind STREQUAL "WIDGETS")
    target_compile_options(${name} PRIVATE ${ORVAN_TEST_UNDEFINES})
  endif()
  # A guard against a hang only: sanitizer builds on a loaded machine are
  # many times slower, and no test measures time.
  set(props TIMEOUT 1200)
  if(ARG_LABELS)
    list(APPEND props LABELS "${ARG_LABELS}")
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${props})
endfunction()
