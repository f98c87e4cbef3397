#!/usr/bin/env bash
# The packages as a user gets them, checked from outside the build tree:
#
#   check-packages.sh deb BUILD     cpack -G DEB, then the .deb unpacked with
#                                   dpkg -x: its command, its Python package, its
#                                   C++ files (the consumer tests), and lintian
#   check-packages.sh wheel BUILD   python3 -m build --wheel, installed into a
#                                   fresh venv, where the pytest suite runs
#                                   against it (BUILD's kestrix as the host it
#                                   compares with); then pip install . likewise
#
# Run by .ci/run after the default workflow; WORK (default: a temporary
# folder) holds what it makes.
set -euo pipefail

step=${1:?usage: check-packages.sh deb|wheel BUILD}
build=$(cd "${2:?the build folder}" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=${WORK:-$(mktemp -d)}
python=/usr/bin/python3  # Debian's: the one the .deb's Python package is for
version=$(sed -n 's/^project(Kestrix VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
call=(call GenBS ExerciseType=European OptionType=CallOption OptionFunction=Theoretical AssetPrice=100
      StrikePrice=100 TimeExpire=1 Volatility=0.2 InterestRate=0.05 YieldRate=0 TimeFormat=Years)
import_check="import kestrix, sys
assert kestrix.__version__ == '$version', kestrix.__version__
value = kestrix.GenBS(ExerciseType='European', OptionType='CallOption', OptionFunction='Theoretical',
                      AssetPrice=100, StrikePrice=100, TimeExpire=1, Volatility=0.2, InterestRate=0.05,
                      YieldRate=0, TimeFormat='Years')
assert repr(value) == '10.450575619322265', value
print('kestrix', kestrix.__version__, 'from', kestrix.__file__)"

fail() {
    echo "FAIL: $*"
    exit 1
}

case "$step" in
deb)
    mkdir -p "$work"
    (cd "$build" && cpack -G DEB -B "$work")
    deb="$work/kestrix_${version}_amd64.deb"
    [ -f "$deb" ] || fail "cpack made no $deb"
    dpkg-deb --info "$deb"
    depends=$(dpkg-deb --field "$deb" Depends)
    for needed in libc6 libstdc++6 python3 python3-numpy; do
        grep -q "\b$needed\b" <<<"$depends" || fail "Depends lacks $needed: $depends"
    done
    root="$work/root"
    rm -rf "$root"
    dpkg -x "$deb" "$root"
    export KESTRIX_REGISTRY="$work/registry"
    [ "$("$root/usr/bin/kestrix" "${call[@]}")" = 10.450575619322265 ] || fail "the packaged kestrix"
    (cd / && PYTHONPATH="$root/usr/lib/python3/dist-packages" PYTHONNOUSERSITE=1 "$python" -c "$import_check") ||
        fail "the packaged Python package"
    # The C++ files: the consumer programs built against the unpacked tree.
    for consumer in cmake pkg-config; do
        KESTRIX_PREFIX="$root/usr" KESTRIX_WORK="$work" KESTRIX_SOURCE="$source_dir" \
            "$source_dir/tests/consumer/consumer-test.sh" "$consumer"
    done
    lintian --fail-on error "$deb" ||
        fail "lintian reports errors"
    echo "the .deb holds a working command, Python package and C++ library: $deb"
    ;;

wheel)
    mkdir -p "$work"
    cd "$source_dir"
    "$python" -m build --wheel --no-isolation --outdir "$work/dist"
    wheel=$(ls "$work"/dist/kestrix-"$version"-*.whl)
    # A fresh venv; numpy (and pandas, matplotlib for the tests) from Debian.
    rm -rf "$work/venv"
    "$python" -m venv --system-site-packages "$work/venv"
    "$work/venv/bin/pip" install --no-index "$wheel"
    (cd / && "$work/venv/bin/python" -c "$import_check") | tee "$work/import.out"
    grep -q "from $work/venv/" "$work/import.out" || fail "kestrix was not imported from the venv"
    # The pytest suite against the installed package, not the build tree.
    (cd "$work" && KESTRIX_REGISTRY="$work/registry" KESTRIX_CLI="$build/tools/kestrix" MPLBACKEND=Agg \
        PYTHONDONTWRITEBYTECODE=1 KESTRIX_REQUIRE_ALL_TESTS="${KESTRIX_REQUIRE_ALL_TESTS:-0}" \
        "$work/venv/bin/python" -m pytest -q -p no:cacheprovider "$source_dir/python/tests")
    # pip install . into another venv builds through the same CMake project.
    rm -rf "$work/venv-pip"
    "$python" -m venv --system-site-packages "$work/venv-pip"
    "$work/venv-pip/bin/pip" install --no-index --no-build-isolation "$source_dir"
    (cd / && "$work/venv-pip/bin/python" -c "$import_check")
    echo "the wheel and pip install . work in a venv: $wheel"
    ;;

*)
    echo "unknown step $step" >&2
    exit 2
    ;;
esac
