# GoogleTest and GoogleMock from Debian's source package, built for whichever
# target this tree is configured for.
set(MARL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${MARL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The Windows build's test programs: no debug information and lighter
# optimisation. They run under Wine, where nobody reads the one, and the test
# code's own speed does not matter; together the two cost nearly half of the
# test sources' compile time. The product keeps its flags.
set(MARL_WIN32_TEST_FLAGS -g0 -O1)

# Every test source includes GoogleTest, GoogleMock and much of the standard
# library, and parsed them anew. They are compiled once per build into a
# precompiled header that every test program reuses.
# The header is only an accelerator: a source whose flags differ from it
# (a definition of its own, say) is compiled from the headers as before, and
# -Winvalid-pch says so in the build log.
# It is built by a program, not a library, so that it is compiled as the
# test programs are (position-independent executable code).
add_executable(marl_test_pch ${CMAKE_CURRENT_LIST_DIR}/test_pch.cpp)
target_link_libraries(marl_test_pch PRIVATE gmock gtest)
if(WIN32)
  target_compile_options(marl_test_pch PRIVATE ${MARL_WIN32_TEST_FLAGS})
endif()
target_precompile_headers(marl_test_pch PRIVATE
  <gmock/gmock.h> <gtest/gtest.h>
  <algorithm> <atomic> <chrono> <cstdint> <cstdio> <cstdlib> <cstring> <functional> <map>
  <memory> <mutex> <set> <sstream> <string> <string_view> <thread> <utility> <vector>)

# marl_test_target(<target>): what every test program gets, whoever adds it:
# the precompiled header above and, in the Windows build, MARL_WIN32_TEST_FLAGS.
function(marl_test_target target)
  target_precompile_headers(${target} REUSE_FROM marl_test_pch)
  target_compile_options(${target} PRIVATE -Winvalid-pch)
  if(WIN32)
    target_compile_options(${target} PRIVATE ${MARL_WIN32_TEST_FLAGS})
  endif()
endfunction()

# marl_test(NAME SOURCES ... LIBS ... [NO_MAIN]): one test executable run as one
# ctest entry. In the Windows build ctest runs it through
# CMAKE_CROSSCOMPILING_EMULATOR. NO_MAIN: the sources bring their own main (a
# test that starts itself again as a child process, say).
function(marl_test name)
  cmake_parse_arguments(T "NO_MAIN" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(T_NO_MAIN)
    target_link_libraries(${name} PRIVATE ${T_LIBS} gmock gtest)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} gmock gtest_main)
  endif()
  marl_test_target(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
