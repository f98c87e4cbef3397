#!/usr/bin/env bash
# Installs every Debian package that building and testing Kestrix needs, each
# listed once here, and only those that are missing. Run as root, or as a user
# who may sudo. Used by the README's first command and by .ci/run.
#
#   tools/install-deps.sh           install what is missing
#   tools/install-deps.sh --check   list what is missing; exit 1 if anything is
#   tools/install-deps.sh --list    print the whole list
set -euo pipefail

packages=(
    # The build, the unit tests and the benchmarks.
    cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev libquantlib0-dev
    # The Python package and its tests.
    python3-dev python3-numpy python3-pybind11 pybind11-dev python3-matplotlib python3-pytest
    # The cluster path for books and its test (a two-process local cluster).
    python3-pandas python3-dask python3-distributed
    # flock(1): the registration test holds the registry's lock as another writer would.
    util-linux
    # Kestrix.dll: the mingw-w64 cross toolchains (x64 and x86), widl, Wine's
    # IDL files, and Wine to test it (about 15 s to install, 3 s for a fresh
    # prefix).
    g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32 mingw-w64-tools libwine-dev wine64 wine
    # The fuzz targets: clang with libFuzzer and its sanitizer runtimes.
    clang-14 libclang-rt-14-dev libfuzzer-14-dev
    # Installing and packaging: the pkg-config consumer test, the .deb
    # (dpkg-shlibdeps, lintian), the wheel and the virtual environments.
    pkg-config dpkg-dev fakeroot file lintian
    python3-venv python3-pip python3-setuptools python3-wheel python3-build
)

case "${1:-}" in
--list)
    printf '%s\n' "${packages[@]}"
    exit 0
    ;;
--check | "") ;;
*)
    echo "usage: tools/install-deps.sh [--check | --list]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all ${#packages[@]} packages are installed"
    exit 0
fi
echo "install-deps: missing ${missing[*]}"
[ "${1:-}" = --check ] && exit 1

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "install-deps: run as root (or install sudo)" >&2; exit 1; }
    as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
