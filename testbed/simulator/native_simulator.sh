#!/bin/sh
# The Windows build's tests run under Wine and talk to a native simulator
# (a Linux program). Makes sure it exists before they start, whichever build
# ran first:
#
#   native_simulator.sh SIMULATOR SOURCE_DIR
#
# SIMULATOR present: nothing to do. Otherwise, when it is the default place
# in SOURCE_DIR's native-asan tree, configures that tree (if needed) and
# builds the simulator there; any other place is reported and refused.
set -eu
simulator=$1 source=$2
[ -x "$simulator" ] && exit 0
default="$source/build/native-asan/testbed/simulator/marl_simulator"
if [ "$simulator" != "$default" ]; then
  echo "the Windows tests need the native simulator MARL_NATIVE_SIMULATOR=$simulator," \
       "which does not exist; build it, or leave MARL_NATIVE_SIMULATOR at its default" >&2
  exit 1
fi
echo "building the native simulator the Windows tests need ($default)"
cd "$source"
if [ ! -f build/native-asan/build.ninja ]; then
  cmake --preset native-asan -G Ninja >/dev/null
fi
cmake --build --preset native-asan --target marl_simulator
