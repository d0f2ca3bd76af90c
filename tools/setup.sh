#!/bin/sh
# Installs everything kelo needs to build and test on Debian 12 (run as root).
set -eu
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
  ca-certificates cmake g++ make pkg-config python3 \
  libgtest-dev libgmock-dev libbenchmark-dev libpng-dev \
  clang libclang-rt-14-dev \
  libvulkan-dev mesa-vulkan-drivers vulkan-validationlayers glslang-dev glslang-tools spirv-tools \
  g++-mingw-w64-i686 mingw-w64-common libwine-dev >/dev/null
