# marl_simulator_test(<name> SOURCES <files...> [LIBS <libs...>] [SIMULATOR_ARGS <args...>])
#
# A marl_test whose program talks to the array simulator. ctest starts a
# simulator of its own for the program before it runs (test <name>_simulator_start,
# a FIXTURES_SETUP) and stops it afterwards (<name>_simulator_stop), and
# tells the program where the simulator's ports file is through the
# environment variable MARL_SIMULATOR_PORTS_FILE, which SimulatorTest reads.
#
# The native build runs its own marl_simulator. The Windows build's tests run
# under Wine and use a native simulator binary given by the cache variable
# MARL_NATIVE_SIMULATOR (scripts/test points it at the native-asan build).
#
# Include this file from any CMakeLists.txt (it guards itself).
include_guard(GLOBAL)

set(MARL_NATIVE_SIMULATOR "${PROJECT_SOURCE_DIR}/build/native-asan/tools/simulator/marl_simulator"
    CACHE FILEPATH "Native marl_simulator binary that the Windows build's tests talk to")

# marl_simulator_fixture(<test> [FIXTURE <name>] [PORTS_VARIABLE <variable>] [ARGS <args...>])
# gives a test one more simulator of its own: FIXTURE names it (default
# <test>_simulator) and PORTS_VARIABLE the environment variable that names
# its ports file (default MARL_SIMULATOR_PORTS_FILE).
function(marl_simulator_fixture test)
  cmake_parse_arguments(F "" "FIXTURE;PORTS_VARIABLE" "ARGS" ${ARGN})
  set(stem ${F_FIXTURE})
  if(NOT F_FIXTURE)
    set(F_FIXTURE ${test}_simulator)
    set(stem ${test})
  endif()
  if(NOT F_PORTS_VARIABLE)
    set(F_PORTS_VARIABLE MARL_SIMULATOR_PORTS_FILE)
  endif()
  if(WIN32)
    if(NOT EXISTS "${MARL_NATIVE_SIMULATOR}")
      message(WARNING "MARL_NATIVE_SIMULATOR (${MARL_NATIVE_SIMULATOR}) does not exist yet; "
                      "${test} needs it at test time")
    endif()
    set(simulator "${MARL_NATIVE_SIMULATOR}")
  else()
    set(simulator marl_simulator)
  endif()
  set(ports "${CMAKE_CURRENT_BINARY_DIR}/${stem}.simulator-ports")
  set(log "${CMAKE_CURRENT_BINARY_DIR}/${stem}.simulator.log")
  add_test(NAME ${F_FIXTURE}_start
           COMMAND ${simulator} --detach --ports-file ${ports} --log-file ${log} ${F_ARGS})
  add_test(NAME ${F_FIXTURE}_stop COMMAND ${simulator} --stop --ports-file ${ports})
  set_tests_properties(${F_FIXTURE}_start PROPERTIES FIXTURES_SETUP ${F_FIXTURE} TIMEOUT 120)
  set_tests_properties(${F_FIXTURE}_stop PROPERTIES FIXTURES_CLEANUP ${F_FIXTURE} TIMEOUT 60)
  set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED ${F_FIXTURE})
  set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "${F_PORTS_VARIABLE}=${ports}")
endfunction()

function(marl_simulator_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;SIMULATOR_ARGS" ${ARGN})
  marl_test(${name} SOURCES ${T_SOURCES} LIBS ${T_LIBS} marl_simulator_fixture)
  marl_simulator_fixture(${name} ARGS ${T_SIMULATOR_ARGS})
endfunction()
