#!/usr/bin/env bash
# Installs a built tree into a scratch prefix, checks what was installed, and
# builds and runs consumers against it: a C++ and a C program through the CMake
# package (ringtrap::ringtrap), a C program on the shared library
# (ringtrap::shared), and the three through pkg-config (which links the shared
# library). Each consumer generates key pairs, signs, verifies and reports
# through its exit status.
#
# usage: run_install_test.sh CMAKE BUILD_DIR WORK_DIR CONFIG VERSION LIBDIR
# The tested build's compilers and flags come in CC, CXX, CFLAGS and CXXFLAGS
# (a sanitizer build's link flags come from the package itself).
# Exit status: 0 passed, 77 skipped (no pkg-config; the CMake part has run by
# then), anything else failed.
set -euo pipefail

if [ $# -ne 6 ]; then
  echo "usage: $0 CMAKE BUILD_DIR WORK_DIR CONFIG VERSION LIBDIR" >&2
  exit 2
fi
cmake=$1 build=$2 work=$3 config=$4 version=$5 libdir=$6
here=$(cd "$(dirname "$0")" && pwd)
prefix=$work/prefix
lib=$prefix/$libdir
: "${CC:=cc}" "${CXX:=c++}" "${CFLAGS:=}" "${CXXFLAGS:=}"

fail() {
  echo "install test: $*" >&2
  exit 1
}

# Runs a consumer program; its own message says which check failed.
run() {
  echo "-- running $1"
  "$1" || fail "$1 exited with status $?"
}

rm -rf "$work"
mkdir -p "$work"

echo "-- installing $build into $prefix"
if ! "$cmake" --install "$build" --prefix "$prefix" --config "$config" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  fail "cmake --install failed"
fi

# What was installed: exactly the two public headers, the program with its
# manual page and completion, the libraries, the CMake package and the
# pkg-config file.
headers=$(find "$prefix/include/ringtrap" -mindepth 1 -printf '%P\n' | sort | tr '\n' ' ')
[ "$headers" = "ringtrap.h sig_api.h " ] || fail "installed headers are '$headers', expected ringtrap.h and sig_api.h only"
[ -x "$prefix/bin/ringtrap" ] || fail "bin/ringtrap not installed"
[ -f "$lib/cmake/ringtrap/ringtrapConfig.cmake" ] || fail "CMake package not installed"
[ -f "$lib/cmake/ringtrap/ringtrapConfigVersion.cmake" ] || fail "CMake package version file not installed"
[ -f "$lib/pkgconfig/ringtrap.pc" ] || fail "pkg-config file not installed"
[ -f "$prefix/share/man/man1/ringtrap.1" ] || fail "manual page share/man/man1/ringtrap.1 not installed"
grep -qF "ringtrap $version" "$prefix/share/man/man1/ringtrap.1" || fail "the manual page does not carry version $version"
[ -f "$prefix/share/bash-completion/completions/ringtrap" ] || fail "bash completion not installed"
# The shared library in every installation (the static one too unless the
# build was BUILD_SHARED_LIBS).
major=${version%%.*}
[ -f "$lib/libringtrap.so.$version" ] || fail "libringtrap.so.$version missing"
[ -L "$lib/libringtrap.so.$major" ] || fail "libringtrap.so.$major link missing"
[ -L "$lib/libringtrap.so" ] || fail "libringtrap.so link missing"
# The dynamic section of a file: SONAME or NEEDED entries.
dynamic() { readelf -d "$2" | sed -n "s/.*($1).*\[\(.*\)\]/\1/p"; }
have_readelf=0
if command -v readelf >/dev/null; then
  have_readelf=1
  soname=$(dynamic SONAME "$lib/libringtrap.so.$version")
  [ "$soname" = "libringtrap.so.$major" ] || fail "SONAME is '$soname', expected libringtrap.so.$major"
fi
# The shared-library consumers are run without a run path of their own.
export LD_LIBRARY_PATH=$lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
# A program linked to the shared library needs it by its SONAME.
needs_shared() {
  [ "$have_readelf" -eq 1 ] || return 0
  dynamic NEEDED "$1" | grep -qx "libringtrap.so.$major" || fail "$1 does not need libringtrap.so.$major: $(dynamic NEEDED "$1" | tr '\n' ' ')"
}
# The library holds no code of the command-line program (its entry point, the
# demonstration, the tool and its argument parser).
if command -v nm >/dev/null; then
  for libfile in "$lib"/libringtrap.a "$lib"/libringtrap.so."$version"; do
    [ -f "$libfile" ] || continue
    program_symbols=$(nm -C --defined-only "$libfile" 2>/dev/null | grep -E 'run_demonstration|ringtrap::cli::| [Tt] main$' || true)
    [ -z "$program_symbols" ] || fail "$libfile defines program symbols: $program_symbols"
  done
fi
src=$(cd "$here/../.." && pwd)/src
grep -q "$src" "$lib/pkgconfig/ringtrap.pc" "$lib/cmake/ringtrap/"*.cmake &&
  fail "the installed package refers to the source tree"

# The program installed beside the library runs from the prefix.
"$prefix/bin/ringtrap" --version >"$work/version.txt" 2>&1 || fail "bin/ringtrap --version failed: $(cat "$work/version.txt")"
grep -qF "$version" "$work/version.txt" || fail "bin/ringtrap --version does not print $version: $(cat "$work/version.txt")"

# Consumers through the CMake package, built with the tested build's compilers
# (CC, CXX and the flags are taken from the environment).
echo "-- building consumers through find_package(ringtrap)"
if ! "$cmake" -S "$here/find_package" -B "$work/find_package" -DCMAKE_BUILD_TYPE="$config" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$work/find_package.log" 2>&1 ||
  ! "$cmake" --build "$work/find_package" --config "$config" >>"$work/find_package.log" 2>&1; then
  cat "$work/find_package.log"
  fail "building the find_package consumers failed"
fi
for program in consumer_cxx consumer_c consumer_shared; do
  exe=$work/find_package/$program
  [ -x "$exe" ] || exe=$work/find_package/$config/$program  # multi-configuration generators
  run "$exe"
done
needs_shared "$exe"

if ! command -v pkg-config >/dev/null; then
  echo "install test: pkg-config not found (Debian package: pkg-config); its consumers are skipped"
  exit 77
fi

# Consumers through pkg-config: plain compiler command lines, warnings as errors
# so that the installed headers are clean for their users too.
echo "-- building consumers through pkg-config"
export PKG_CONFIG_PATH=$lib/pkgconfig
found=$(pkg-config --modversion ringtrap) || fail "pkg-config does not find ringtrap"
[ "$found" = "$version" ] || fail "pkg-config reports version '$found', expected $version"
read -r -a cflags <<<"$(pkg-config --cflags ringtrap)"
read -r -a libs <<<"$(pkg-config --libs ringtrap)"
read -r -a cxx_extra <<<"$CXXFLAGS"
read -r -a c_extra <<<"$CFLAGS"
warn=(-Wall -Wextra -Wpedantic -Werror)

# shellcheck disable=SC2086  # CC and CXX may carry a launcher or options
$CXX "${cxx_extra[@]}" -std=c++20 "${warn[@]}" -DEXPECTED_VERSION="\"$version\"" "${cflags[@]}" \
  "$here/consumer.cpp" -o "$work/pc_consumer_cxx" "${libs[@]}" || fail "compiling the C++ pkg-config consumer failed"
# shellcheck disable=SC2086
# shellcheck disable=SC2086
$CC "${c_extra[@]}" -std=c99 "${warn[@]}" "${cflags[@]}" \
  "$here/consumer.c" -o "$work/pc_consumer_c" "${libs[@]}" || fail "compiling the C pkg-config consumer failed"
# shellcheck disable=SC2086
$CC "${c_extra[@]}" -std=c99 "${warn[@]}" -DEXPECTED_VERSION="\"$version\"" "${cflags[@]}" \
  "$here/consumer_shared.c" -o "$work/pc_consumer_shared" "${libs[@]}" || fail "compiling the shared C pkg-config consumer failed"
for program in pc_consumer_cxx pc_consumer_c pc_consumer_shared; do
  run "$work/$program"
  needs_shared "$work/$program"
done

echo "install test: passed"
