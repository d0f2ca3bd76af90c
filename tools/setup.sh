#!/bin/sh
# Installs everything kelo needs to build and run on Debian 12 (run as root);
# with --tests, also what only the tests use.
# Safe to run again: apt-get skips what is already installed.
set -eu
export DEBIAN_FRONTEND=noninteractive
# The Windows checks run the 32-bit product under Wine on Xvfb, which needs
# the i386 architecture for wine32 and for the 32-bit Mesa OpenGL and X
# libraries behind Wine's Direct3D 9 (without them no device can be created).
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
  ca-certificates cmake g++ make pkg-config python3 \
  libgtest-dev libgmock-dev googletest libbenchmark-dev libpng-dev libcpp-httplib-dev \
  clang libclang-rt-14-dev \
  libvulkan-dev mesa-vulkan-drivers vulkan-validationlayers glslang-dev glslang-tools spirv-tools \
  g++-mingw-w64-i686 mingw-w64-common libwine-dev \
  wine wine32:i386 xvfb xauth \
  libgl1:i386 libgl1-mesa-dri:i386 libxrender1:i386 libxrandr2:i386 libxi6:i386 \
  libxcursor1:i386 libxcomposite1:i386 libxinerama1:i386 libxfixes3:i386 libxxf86vm1:i386 >/dev/null
# For the tests only (tools/run-tests.sh passes --tests): the preview page
# driven in headless Chromium, and the .cube file checked in ffmpeg's lut3d.
# The tests skip themselves without them.
if [ "${1:-}" = "--tests" ]; then
  apt-get install -y -qq --no-install-recommends \
    chromium chromium-driver python3-selenium ffmpeg >/dev/null
fi
