# The provider object against the array simulator (ctest starts one for each
# program, natively also for the Windows build's programs under Wine).
include(${PROJECT_SOURCE_DIR}/tools/simulator/SimulatorTesting.cmake)

marl_simulator_test(integration_provider_test SOURCES integration_provider_test.cpp
                    LIBS marl_harness_lib)
