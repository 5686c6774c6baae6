#!/usr/bin/env bash
# Installs the build and test tools that are missing: host compilers and GoogleTest, the
# MinGW-w64 i686 and x86_64 cross compilers, Wine (32-bit and 64-bit: the Wine tests take the
# 64-bit one, with the x86_64 build, where the machine runs no 32-bit program) and Xvfb, clang for the fuzzers, python3 for the
# image checks and the icon script, mtools and xorriso for the disk images of `make dist`.
#
#   install-deps.sh          everything `make test` needs
#   install-deps.sh --demo   only what building uninst-sim needs (`make demo`): the `tool` lines
set -euo pipefail

demo=
[ "${1:-}" = --demo ] && demo=1

missing=()
# tool PKG: needed to build uninst-sim, so by `make demo` too; need PKG: by the rest only, and
# not even looked at with --demo.
tool() { dpkg -s "$1" >/dev/null 2>&1 || [[ " ${missing[*]} " == *" $1 "* ]] || missing+=("$1"); }
need() { [ -n "$demo" ] || tool "$1"; }

tool cmake
tool g++
tool nlohmann-json3-dev
tool libcli11-dev
# uninst-sim --hive: libcreg reads Windows 9x registry files (its header needs libbfio's, which
# the package does not pull in), libmspack the .CAB registry backups.
tool libcreg-dev
tool libbfio-dev
tool libmspack-dev
# uninst-sim --disk on virtual machines' disk files: libvmdk reads VMDK; qemu-nbd (qemu-utils)
# serves qcow2, VDI, VHD and VHDX, read through libnbd; qemu-img also checks what they name.
tool libvmdk-dev
tool libnbd-dev
tool qemu-utils
# CMake finds libcreg, libbfio, libmspack, libvmdk and libnbd through pkg-config
tool pkg-config
need clang
need libclang-rt-14-dev
need googletest
need libgtest-dev
need libbenchmark-dev
need g++-mingw-w64-i686
need binutils-mingw-w64-i686
need g++-mingw-w64-x86-64-posix
need binutils-mingw-w64-x86-64
need wine
need wine32:i386
need wine64
need xvfb
need xauth
need imagemagick
need python3
# the benchmarks read peak memory from /usr/bin/time
need time
# run-wine-tests.sh runs Wine in a French UTF-8 locale: without it, Wine cannot name a host file
# outside ASCII.
need locales-all
need mtools
need xorriso
# cregexport and gcab: the tests' independent registry file reader and CAB writer.
need libcreg-utils
need gcab
# make package: dpkg-shlibdeps reads the program's library dependencies
need dpkg-dev
# the virtual disk test watches, with strace, which files a refused image makes the tool open
need strace

# A package can be registered as installed while files of it are gone: reinstall it then.
broken=()
[ -n "$demo" ] || for pkg in g++-mingw-w64-i686-win32 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-win32 \
    gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev g++-mingw-w64-x86-64-posix \
    gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev wine wine32:i386 wine64 xvfb; do
  dpkg -s "$pkg" >/dev/null 2>&1 || continue
  if dpkg --verify "$pkg" 2>/dev/null | grep -q '^missing '; then
    broken+=("$pkg")
  fi
done

[ ${#missing[@]} -eq 0 ] && [ ${#broken[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} ${broken[*]} (run as root to install them)" >&2
  exit 1
fi
if [ -z "$demo" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
[ ${#missing[@]} -eq 0 ] || apt-get install -y -q "${missing[@]}"
[ ${#broken[@]} -eq 0 ] || apt-get install -y -q --reinstall "${broken[@]}"
