#!/usr/bin/env bash
# Builds the packages and tests them. In build-package: the Linux build with Debian's build
# flags, made into a .deb (dependencies from dpkg-shlibdeps) and a .tar.gz; with --windows
# also the mingw-w64 cross-build (in build-package-win) as a .zip. All of them land in
# build-package/packages. tests/package_test.sh then unpacks each into a scratch root and
# compares what its reelfix writes with the build tree's reelfix, and lintian, when it is
# installed, checks the .deb. Exits non-zero on any failure or lintian error.
#
#   scripts/package.sh [--windows]
#
# Needs cmake, g++, dpkg-dev and file; --windows also ninja, g++-mingw-w64-x86-64-posix and
# wine (the zip's reelfix.exe runs under it).
set -euo pipefail
cd "$(dirname "$0")/.."

windows=false
case ${1:-} in
  "") ;;
  --windows) windows=true ;;
  *) echo "usage: scripts/package.sh [--windows]" >&2; exit 2 ;;
esac

log() { printf '== %s\n' "$*"; }
fail() { printf 'package: %s\n' "$*" >&2; exit 1; }
for tool in cmake cpack dpkg-shlibdeps file; do
  command -v "$tool" >/dev/null || fail "$tool is missing"
done

build=build-package
packages=$build/packages
rm -rf "$packages"

# The flags a Debian package is built with: stack protector, fortified functions, read-only
# relocations bound at start-up.
flags=()
if command -v dpkg-buildflags >/dev/null; then
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  flags=(-DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
         -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)")
fi
log "building in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREELFIX_BUILD_TESTS=OFF "${flags[@]}" >/dev/null
cmake --build "$build" -j2
cpack --config "$build/CPackConfig.cmake" -B "$packages" >/dev/null

if $windows; then
  log "cross-building in $build-win"
  cmake -S . -B "$build-win" -G Ninja --no-warn-unused-cli \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREELFIX_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build-win" -j2
  cpack --config "$build-win/CPackConfig.cmake" -B "$packages" >/dev/null
fi

made=()
for package in "$packages"/*.deb "$packages"/*.tar.gz "$packages"/*.zip; do
  [[ -f $package ]] && made+=("$package")
done
((${#made[@]})) || fail "cpack made no package"
rm -rf "$packages/_CPack_Packages"

log "testing ${made[*]}"
tests/package_test.sh "$build/reelfix" "${made[@]}"

if command -v lintian >/dev/null; then
  log "lintian"
  lintian --fail-on error "$packages"/*.deb
fi

log "packages:"
ls -l "${made[@]}"
