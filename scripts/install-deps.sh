#!/usr/bin/env bash
# Installs the build and test tools that are missing: host compilers and GoogleTest, the
# MinGW-w64 i686 cross compilers, Wine (32-bit) and Xvfb, clang for the fuzzers.
set -euo pipefail

missing=()
need() { dpkg -s "$1" >/dev/null 2>&1 || missing+=("$1"); }

need cmake
need g++
need clang
need libclang-rt-14-dev
need googletest
need libgtest-dev
need g++-mingw-w64-i686
need binutils-mingw-w64-i686
need wine
need wine32:i386
need wine64
need xvfb
need xauth

[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q "${missing[@]}"
