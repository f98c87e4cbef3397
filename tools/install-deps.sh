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
    # prefix). Wine's 32-bit side, for the x86 DLL, comes from Debian's i386
    # architecture, which this script adds (about 40 s more).
    g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32 mingw-w64-tools libwine-dev wine64 wine wine32:i386
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

# Where the x86 Wine tests learn why Wine's 32-bit side is missing when this
# script could not get it (see below); removed once it is installed.
i386_note=/var/tmp/kestrix-i386-unavailable

foreign=()
for p in "${missing[@]}"; do [[ $p == *:i386 ]] && foreign+=("$p"); done
if [ ${#foreign[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "install-deps: adding Debian's i386 architecture for ${foreign[*]}"
    "${as_root[@]}" dpkg --add-architecture i386
fi

# A mirror in the middle of a sync serves index files of the wrong size for a
# few minutes; waiting usually cures it.
for attempt in 1 2 3 4; do
    "${as_root[@]}" apt-get update -q && break
    [ "$attempt" -eq 4 ] && { echo "install-deps: apt-get update kept failing; installing from the lists it has"; break; }
    echo "install-deps: apt-get update failed (attempt $attempt of 4); retrying in $((attempt * 30)) s"
    sleep $((attempt * 30))
done

apt_install() { "${as_root[@]}" apt-get install -y -q --no-install-recommends "$@"; }
if apt_install "${missing[@]}"; then
    "${as_root[@]}" rm -f "$i386_note"
    exit 0
fi
[ ${#foreign[@]} -gt 0 ] || exit 1

# The i386 packages need i386 copies of every library Wine uses at the very
# versions installed for amd64; when Debian's i386 indexes could not be read,
# they cannot be met. Install the rest, and leave the reason where the x86
# Wine tests report it.
echo "install-deps: ${foreign[*]} could not be installed; installing the rest" >&2
rest=()
for p in "${missing[@]}"; do [[ $p == *:i386 ]] || rest+=("$p"); done
[ ${#rest[@]} -eq 0 ] || apt_install "${rest[@]}"
reason=$(LC_ALL=C apt-get install -s --no-install-recommends "${foreign[@]}" 2>&1 | grep -E '^ |^E:' | head -5 || true)
printf '%s could not be installed on %s:\n%s\n' "${foreign[*]}" "$(date -u '+%F %R UTC')" "$reason" |
    "${as_root[@]}" tee "$i386_note" >&2
