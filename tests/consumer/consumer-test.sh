#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds and runs small
# outside programs against it, as a user would:
#
#   consumer-test.sh install | cmake | pkg-config
#
# Environment: KESTRIX_BUILD (the build folder), KESTRIX_WORK (a scratch
# folder), KESTRIX_SOURCE (the source tree), CXX (the compiler); for the
# cmake and pkg-config steps KESTRIX_PREFIX may name an installed tree (an
# unpacked .deb's usr/, say) instead of the install step's.
set -euo pipefail

step=${1:?usage: consumer-test.sh install|cmake|pkg-config}
work=${KESTRIX_WORK:?}
here=${KESTRIX_SOURCE:?}/tests/consumer
prefix=${KESTRIX_PREFIX:-$work/prefix}

fail() {
    echo "FAIL: $*"
    exit 1
}

# The program's output: the call's value and the zero strike's error.
check_output() {
    echo "$1"
    grep -qx 'Call value: 10.4505756193223' <<<"$1" || fail "the call's value"
    grep -qx 'Error 0x80050002: StrikePrice must be greater than 0.' <<<"$1" || fail "the zero strike's error"
}

case "$step" in
install)
    rm -rf "$prefix"
    cmake --install "${KESTRIX_BUILD:?}" --prefix "$prefix"
    for file in bin/kestrix include/kestrix/kestrix.hpp include/kestrix/version.hpp; do
        [ -e "$prefix/$file" ] || fail "$file was not installed"
    done
    library=$(find "$prefix" -name 'libkestrix.so.*.*' -type f)
    [ -n "$library" ] || fail "libkestrix.so was not installed"
    soname=$(objdump -p "$library" | awk '$1 == "SONAME" { print $2 }')
    [ "$soname" = "libkestrix.so.$(sed -n 's/^#define KESTRIX_VERSION_MAJOR //p' "$prefix/include/kestrix/version.hpp")" ] ||
        fail "the soname is '$soname'"
    "$prefix/bin/kestrix" call GenBS ExerciseType=European OptionType=CallOption OptionFunction=Theoretical \
        AssetPrice=100 StrikePrice=100 TimeExpire=1 Volatility=0.2 InterestRate=0.05 YieldRate=0 TimeFormat=Years
    # The installed command registers the installed library (the server
    # records the file itself, its links resolved).
    export KESTRIX_REGISTRY="$work/registry/registry"
    rm -rf "$work/registry"
    "$prefix/bin/kestrix" register
    grep -qxF "@=\"$(realpath "$library")\"" "$KESTRIX_REGISTRY" || fail "the registered library's path"
    ;;

cmake)
    rm -rf "$work/cmake-consumer"
    cmake -S "$here" -B "$work/cmake-consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release
    cmake --build "$work/cmake-consumer"
    check_output "$("$work/cmake-consumer/price_call")"
    ;;

pkg-config)
    export PKG_CONFIG_PATH
    PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name kestrix.pc)")
    [ "$(pkg-config --modversion kestrix)" = "$(sed -n 's/^#define KESTRIX_VERSION_STRING "\(.*\)"$/\1/p' \
        "$prefix/include/kestrix/version.hpp")" ] || fail "pkg-config's version"
    mkdir -p "$work/pkg-config-consumer"
    # shellcheck disable=SC2046
    "${CXX:-c++}" -std=c++20 -Wall -Wextra -Wpedantic -Werror -o "$work/pkg-config-consumer/price_call" \
        "$here/price_call.cpp" $(pkg-config --cflags --libs kestrix)
    check_output "$(LD_LIBRARY_PATH=$(pkg-config --variable=libdir kestrix) "$work/pkg-config-consumer/price_call")"
    ;;

*)
    echo "unknown step $step" >&2
    exit 2
    ;;
esac
