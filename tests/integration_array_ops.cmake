# The array operations end to end against the simulator over HTTPS and HTTP
# (both builds; WinHTTP under Wine in the Windows build). Included from
# tests/CMakeLists.txt.
include(${PROJECT_SOURCE_DIR}/testbed/simulator/SimulatorTesting.cmake)
marl_simulator_test(integration_array_ops_test SOURCES integration_array_ops_test.cpp
                    LIBS marl_harness_lib marl_array_client_testing)
