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
# MARL_NATIVE_SIMULATOR (default: the native-asan tree's, which the test
# native_simulator builds when it is missing).
#
# Include this file from any CMakeLists.txt (it guards itself).
include_guard(GLOBAL)

set(MARL_NATIVE_SIMULATOR "${PROJECT_SOURCE_DIR}/build/native-asan/testbed/simulator/marl_simulator"
    CACHE FILEPATH "Native marl_simulator binary that the Windows build's tests talk to")

# Where the test simulators listen. Most take free ports on 127.0.0.1. A
# provider DLL under test reaches its array on the fixed ports 443 and 80,
# and simulators on fixed ports share them (SO_REUSEPORT), so each program
# that needs one gets a loopback address of its own, assigned here and
# nowhere else (cache entries, so that every directory sees them, however
# often this file is included). scripts/demo's Windows run uses 127.0.0.2.
set(MARL_FIXED_HTTPS_PORT 443 CACHE INTERNAL "")
set(MARL_FIXED_HTTP_PORT 80 CACHE INTERNAL "")
set(MARL_ADDRESS_COM_ACTIVATION 127.0.0.3 CACHE INTERNAL "")  # com_activation_test
set(MARL_ADDRESS_HARNESS_COM 127.0.0.4 CACHE INTERNAL "")     # harness_com_test
set(MARL_ADDRESS_INSTALLER 127.0.0.5 CACHE INTERNAL "")       # installer_test
set(MARL_ADDRESS_RECONFIGURED 127.0.0.6 CACHE INTERNAL "")    # installer_test's second address; nothing listens
set(MARL_ADDRESS_ELSEWHERE 127.0.0.9 CACHE INTERNAL "")       # integration_transport_test's array elsewhere

# The Windows build: one test, run before any simulator starts, that builds
# the native simulator when it is missing (native_simulator.sh), so that the
# Windows suite does not depend on the native one having been built first.
function(marl_native_simulator_fixture)
  get_property(added GLOBAL PROPERTY MARL_NATIVE_SIMULATOR_TEST)
  if(added)
    return()
  endif()
  set_property(GLOBAL PROPERTY MARL_NATIVE_SIMULATOR_TEST TRUE)
  add_test(NAME native_simulator
           COMMAND sh ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/native_simulator.sh
                   ${MARL_NATIVE_SIMULATOR} ${PROJECT_SOURCE_DIR})
  set_tests_properties(native_simulator PROPERTIES FIXTURES_SETUP native_simulator TIMEOUT 1800)
endfunction()

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
    marl_native_simulator_fixture()
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
  if(WIN32)
    set_property(TEST ${F_FIXTURE}_start APPEND PROPERTY FIXTURES_REQUIRED native_simulator)
  endif()
  set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "${F_PORTS_VARIABLE}=${ports}")
endfunction()

# marl_fixed_port_simulator(<test> <address>): a simulator of the test's
# own on the fixed ports of `address`.
function(marl_fixed_port_simulator test address)
  marl_simulator_fixture(${test} ARGS --listen-address ${address}
                         --https-port ${MARL_FIXED_HTTPS_PORT} --http-port ${MARL_FIXED_HTTP_PORT})
endfunction()

function(marl_simulator_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;SIMULATOR_ARGS" ${ARGN})
  marl_test(${name} SOURCES ${T_SOURCES} LIBS ${T_LIBS} marl_simulator_fixture)
  marl_simulator_fixture(${name} ARGS ${T_SIMULATOR_ARGS})
endfunction()
