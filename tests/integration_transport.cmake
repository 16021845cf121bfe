# The array transport's integration tests, included from tests/CMakeLists.txt.
# Against the simulator (both builds; WinHTTP under Wine in the Windows
# build): the general cases, and the certificate cases in a program of their
# own (a process's TLS session cache must not hold a session for them yet).
include(${PROJECT_SOURCE_DIR}/testbed/simulator/SimulatorTesting.cmake)
foreach(name integration_transport_test integration_transport_tls_test)
  marl_simulator_test(${name} SOURCES ${name}.cpp
                      LIBS marl_harness_lib marl_array_client_testing marl_platform_testing)
endforeach()
# A second simulator on another loopback address, where a redirect points:
# no request may reach it.
marl_simulator_fixture(integration_transport_test FIXTURE integration_transport_elsewhere
                       PORTS_VARIABLE MARL_ELSEWHERE_PORTS_FILE
                       ARGS --listen-address ${MARL_ADDRESS_ELSEWHERE})
target_compile_definitions(integration_transport_test PRIVATE
  MARL_ELSEWHERE_ADDRESS="${MARL_ADDRESS_ELSEWHERE}")

# The libcurl backend against loopback servers of its own (native only):
# headers on the wire, every certificate case, TLS session resumption.
if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  find_package(OpenSSL REQUIRED)
  pkg_check_modules(MARL_TRANSPORT_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  marl_test(integration_transport_curl_test SOURCES integration_transport_curl_test.cpp
            LIBS marl_harness_lib marl_array_client_testing PkgConfig::MARL_TRANSPORT_HTTPLIB OpenSSL::SSL OpenSSL::Crypto)
endif()
