# GoogleTest and GoogleMock from Debian's source package, built for whichever
# target this tree is configured for.
set(MARL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${MARL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

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
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
