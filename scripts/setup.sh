#!/usr/bin/env bash
# Installs what the build, the tests and the run command need on a Debian 12
# machine, and only what is missing. Sourced or run; needs root for apt-get.
set -euo pipefail

tarnwick_packages=(
  cmake ninja-build g++ clang clang-format libclang-rt-dev
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth x11-apps x11-utils imagemagick wixl msitools
  iproute2 iputils-ping
  googletest libgtest-dev libgmock-dev libbenchmark-dev libmsgpack-cxx-dev
)

tarnwick_missing=()
for p in "${tarnwick_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || tarnwick_missing+=("$p")
done
if [ ${#tarnwick_missing[@]} -gt 0 ]; then
  echo "setup: installing ${tarnwick_missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${tarnwick_missing[@]}" >/dev/null
fi
