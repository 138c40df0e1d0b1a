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
function(orvan_test name)
  cmake_parse_arguments(ARG "OWN_MAIN" "" "LIBS;GLOB;LABELS" ${ARGN})
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
