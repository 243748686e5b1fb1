# Sources of a module are the .cpp files of its folder (not its subfolders), so
# that adding a class family is adding a file.
function(korvo_module_sources out dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  set(${out} ${srcs} PARENT_SCOPE)
endfunction()

# Every <name>_test.cpp of a test folder becomes its own GoogleTest program,
# linked with the given libraries and the test support code; <name>.cmake beside
# it, when present, adds what that program alone needs (it sees ${target}).
function(korvo_test_folder dir prefix)
  file(GLOB tests CONFIGURE_DEPENDS ${dir}/*_test.cpp)
  foreach(src ${tests})
    get_filename_component(name ${src} NAME_WE)
    set(target ${prefix}_${name})
    add_executable(${target} ${src})
    target_link_libraries(${target} PRIVATE ${ARGN} korvo_test_support GTest::gtest GTest::gmock GTest::gtest_main)
    # Extra needs of one test program (libraries, dependencies on built tools);
    # it may set korvo_test_run_serial for a program that must run alone.
    set(korvo_test_run_serial FALSE)
    if(EXISTS ${dir}/${name}.cmake)
      include(${dir}/${name}.cmake)
    endif()
    # One variable per property: gtest_discover_tests flattens its PROPERTIES, so a
    # second ENVIRONMENT entry after ';' would become a property name and be lost.
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60
      PROPERTIES ENVIRONMENT "KORVO_BUILD_DIR=${CMAKE_BINARY_DIR}"
                 ENVIRONMENT_MODIFICATION "KORVO_SOURCE_DIR=set:${CMAKE_SOURCE_DIR}"
                 RUN_SERIAL ${korvo_test_run_serial})
  endforeach()
endfunction()

# A PNG of the source tree compiled in: writes the header (in the build tree)
# holding `inline constexpr std::array<unsigned char, N> <symbol>` with the
# file's bytes, and configures again when the picture changes.
function(korvo_png_header header symbol png)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${png})
  file(READ ${png} hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  file(RELATIVE_PATH source ${PROJECT_SOURCE_DIR} ${png})
  file(CONFIGURE OUTPUT ${header} CONTENT
    "// Generated from ${source}.\n#pragma once\n#include <array>\ninline constexpr std::array<unsigned char, ${size}> ${symbol} = {${bytes}};\n" @ONLY)
endfunction()

# The suite's files (media/files.txt): three lists of the same length, the
# names, parts and sources, in the list's order. Configures again when the
# list changes.
function(korvo_suite_files names parts sources)
  set(list ${PROJECT_SOURCE_DIR}/media/files.txt)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list})
  file(STRINGS ${list} lines REGEX "^[^#]")
  set(n)
  set(p)
  set(s)
  foreach(line ${lines})
    string(REGEX MATCH "^([^ ]+) +([a-z]+) +([^ ]+) *$" matched "${line}")
    if(NOT matched)
      message(FATAL_ERROR "media/files.txt: cannot read the line '${line}'")
    endif()
    list(APPEND n ${CMAKE_MATCH_1})
    list(APPEND p ${CMAKE_MATCH_2})
    list(APPEND s ${CMAKE_MATCH_3})
  endforeach()
  set(${names} ${n} PARENT_SCOPE)
  set(${parts} ${p} PARENT_SCOPE)
  set(${sources} ${s} PARENT_SCOPE)
endfunction()

# The suite's files as rows of C++ ({"name", SuitePart::Part},) for
# core/setup/suite_files.h to include.
function(korvo_suite_files_rows header)
  korvo_suite_files(names parts sources)
  set(rows "")
  foreach(name part IN ZIP_LISTS names parts)
    string(SUBSTRING ${part} 0 1 first)
    string(TOUPPER ${first} first)
    string(SUBSTRING ${part} 1 -1 rest)
    string(APPEND rows "    {\"${name}\", SuitePart::${first}${rest}},\n")
  endforeach()
  file(CONFIGURE OUTPUT ${header} CONTENT "// Generated from media/files.txt.\n${rows}" @ONLY)
endfunction()
