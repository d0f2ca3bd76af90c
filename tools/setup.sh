#!/bin/sh
# Installs what kelo needs on Debian 12 (run as root), by need:
#   setup.sh demo   the Linux build of the plug-in and kelo-host (tools/run-demo.sh)
#   setup.sh test   that and everything the tests need (tools/run-tests.sh)
# Safe to run again: apt-get skips what is already installed.
set -eu
part=${1:-}
case $part in
  demo | test) ;;
  *) echo "usage: $0 demo|test" >&2; exit 2 ;;
esac
export DEBIAN_FRONTEND=noninteractive

# The plug-in on the Vulkan device (lavapipe on the processor), the effect
# stand-in's HLSL compiler (glslang's CMake package names glslangValidator,
# so glslang-tools too), kelo-host's PNG files and its preview's HTTP server.
demo="ca-certificates cmake g++ make pkg-config libpng-dev libboost-dev
  libvulkan-dev mesa-vulkan-drivers glslang-dev glslang-tools spirv-tools"

# The Linux tests and benchmarks, with Vulkan's validation layers; the name
# table's generator (python3, Wine's headers); the fuzz targets (clang).
tests="python3 libgtest-dev libgmock-dev googletest libbenchmark-dev vulkan-validationlayers
  libwine-dev clang libclang-rt-14-dev"

# The Windows builds and their checks under Wine on Xvfb: the 32-bit product
# with wine32, and the 64-bit build with wine64, which runs where the kernel
# runs no 32-bit programs. Both loaders are called directly. Wine's Direct3D 9
# needs the Mesa OpenGL and X libraries of its own architecture, which
# --no-install-recommends leaves out: without them no device can be created.
windows="g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-common
  wine wine64 wine32:i386 xvfb xauth"
for arch in amd64 i386; do
  for library in libgl1 libgl1-mesa-dri libxrender1 libxrandr2 libxi6 libxcursor1 \
                 libxcomposite1 libxinerama1 libxfixes3 libxxf86vm1; do
    windows="$windows $library:$arch"
  done
done

# The preview page driven in headless Chromium (selenium under Debian's own
# /usr/bin/python3), and the .cube file checked in ffmpeg's lut3d. Those tests
# report themselves skipped without them.
tools="chromium chromium-driver python3-selenium ffmpeg"

packages=$demo
if [ "$part" = test ]; then
  packages="$packages $tests $windows $tools"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
fi
apt-get update -qq
# shellcheck disable=SC2086 # the lists are words
apt-get install -y -qq --no-install-recommends $packages >/dev/null
