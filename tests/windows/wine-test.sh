#!/usr/bin/env bash
# The Windows build of Kestrix.dll, tested with real automation clients under
# Wine. CTest runs one step per test; the steps share a Windows build folder
# and a fresh Wine prefix inside the default build folder.
#
#   wine-test.sh STEP
#
# STEP: build, prefix, register, vbscript, example, client, unregister,
# shutdown, and zip (cpack -G ZIP over both builds). Environment:
# KESTRIX_SOURCE (source tree), KESTRIX_WORK (folder for the Windows builds
# and the prefixes), KESTRIX_HOST (the Linux kestrix), KESTRIX_IDL (the Linux
# kestrix-idl), KESTRIX_WINDOWS_ARCH (x64, the default, or x86: which DLL).
# The x86 DLL gets a prefix of its own and is registered and called by the
# 32-bit regsvr32 and cscript from SysWOW64, as 32-bit Office would load it.
#
# Exit status 77 (reported by CTest as skipped) when the cross toolchain or
# Wine is not installed; 1 instead when KESTRIX_REQUIRE_ALL_TESTS is 1 (CI),
# except for Wine's 32-bit side when tools/install-deps.sh recorded that
# Debian's i386 archive could not be read (it says why).
set -euo pipefail

step=${1:?usage: wine-test.sh STEP}
source_dir=${KESTRIX_SOURCE:?}
work=${KESTRIX_WORK:?}
case "${KESTRIX_WINDOWS_ARCH:-x64}" in
x64)
    mingw=x86_64-w64-mingw32 preset=windows build="$work/build" pe_format=pei-x86-64
    prefix="$work/wineprefix" system='C:\windows\system32' loader=/usr/lib/wine/wine64
    ;;
x86)
    mingw=i686-w64-mingw32 preset=windows-x86 build="$work/build-x86" pe_format=pei-i386
    prefix="$work/wineprefix-x86" system='C:\windows\syswow64' loader=/usr/lib/wine/wine
    ;;
*) echo "KESTRIX_WINDOWS_ARCH is x64 or x86" >&2; exit 2 ;;
esac
dll="$build/bin/Kestrix.dll"

missing() {
    if [ "${KESTRIX_REQUIRE_ALL_TESTS:-0}" = 1 ]; then
        echo "FAIL: $1 is not installed (tools/install-deps.sh installs it)"
        exit 1
    fi
    echo "skipped: $1 is not installed (tools/install-deps.sh installs it)"
    exit 77
}
for tool in $mingw-g++ $mingw-widl $mingw-windres wine wineserver; do
    command -v "$tool" >/dev/null 2>&1 || missing "$tool"
done
# Wine's 32-bit side runs the x86 DLL and the SysWOW64 programs; the build
# and the zip do without it.
if [ "${KESTRIX_WINDOWS_ARCH:-x64}" = x86 ] && [[ $step != build && $step != zip ]] &&
    ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    if [ -r /var/tmp/kestrix-i386-unavailable ]; then
        echo "skipped: Debian's i386 archive could not be read when tools/install-deps.sh ran:"
        cat /var/tmp/kestrix-i386-unavailable
        exit 77
    fi
    missing wine32:i386
fi

version=$(sed -n 's/^project(Kestrix VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")

# Headless, quiet, without the .NET and HTML engines a fresh prefix would
# offer to install.
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
unset WAYLAND_DISPLAY

class_key='HKCR\CLSID\{71D12FBC-BCD2-49AD-A254-B46503A8DA23}'
progid_key='HKCR\Quantora.Kestrix'
typelib_key='HKCR\TypeLib\{2C9D68B6-D2AE-41BB-9161-409F995B3444}'

fail() {
    echo "FAIL: $*"
    exit 1
}

windows_path() { winepath -w "$1" 2>/dev/null; }

# Programs run by the loader of the DLL's bitness: `wine` alone picks the
# 32-bit one whenever Wine's 32-bit side is installed, and a 32-bit reg.exe
# sees the registry as a 32-bit host does (HKCR\CLSID in its WOW64 view).
[ -x "$loader" ] || loader=wine
run() { "$loader" "$@"; }
regsvr32() { run "$system\\regsvr32.exe" "$@"; }
cscript() { run "$system\\cscript.exe" "$@"; }
reg() { run "$system\\reg.exe" "$@"; }

key_exists() { reg query "$1" >/dev/null 2>&1; }

# A value as the registry holds it: the data of `reg query KEY [/v NAME | /ve]`.
reg_value() {
    reg query "$@" 2>/dev/null | tr -d '\r' | sed -n 's/^ *[^ ].*REG_SZ    //p'
}

case "$step" in
build)
    # The IDL comes from the Linux build's kestrix-idl: the same table.
    cd "$source_dir"
    cmake --preset $preset -B "$build" -DKESTRIX_IDL_GENERATOR="${KESTRIX_IDL:?}" >/dev/null
    cmake --build "$build"
    objdump=$mingw-objdump
    headers=$($objdump -p "$dll")
    grep -q "file format $pe_format\$" <<<"$headers" || fail "Kestrix.dll is not $pe_format"
    imports=$(sed -n 's/^\tDLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
    echo "Kestrix.dll imports: $imports"
    for name in $imports; do
        case "$name" in
        advapi32.dll | kernel32.dll | msvcrt.dll | ole32.dll | oleaut32.dll) ;;
        *) fail "Kestrix.dll imports $name: the runtime must be linked statically" ;;
        esac
    done
    for export in DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer; do
        grep -q "\] $export\$" <<<"$headers" || fail "Kestrix.dll does not export $export"
    done
    # The version resource Explorer shows, from project(VERSION).
    resources=$($mingw-windres -i "$dll" -O rc)
    major=${version%%.*} minor=${version#*.}
    grep -q "FILEVERSION $major, ${minor%%.*}, " <<<"$resources" || fail "the file version"
    for value in '"ProductName", "Kestrix"' "\"ProductVersion\", \"$version\"" "\"FileVersion\", \"$version\"" \
                 '"FileDescription", "Kestrix option-pricing automation server"'; do
        grep -qF "VALUE $value" <<<"$resources" || fail "the version resource lacks $value"
    done
    echo "Kestrix.dll ($pe_format) carries version $version"
    ;;

prefix)
    rm -rf "$WINEPREFIX"
    start=$(date +%s%N)
    wineboot --init >/dev/null 2>&1 || fail "wineboot could not create the prefix"
    echo "Wine prefix ready in $((($(date +%s%N) - start) / 1000000)) ms"
    ;;

register)
    regsvr32 /s "$(windows_path "$dll")" || fail "regsvr32 Kestrix.dll failed"
    path=$(reg_value "$class_key\\InprocServer32" /ve)
    [ "$path" = "$(windows_path "$dll")" ] || fail "InprocServer32 is '$path'"
    [ "$(reg_value "$class_key\\InprocServer32" /v ThreadingModel)" = Apartment ] || fail "ThreadingModel"
    [ "$(reg_value "$class_key" /ve)" = "PlainOptions Object" ] || fail "the class description"
    [ "$(reg_value "$class_key\\ProgID" /ve)" = Quantora.Kestrix ] || fail "the class's ProgID"
    [ "$(reg_value "$class_key\\Version" /ve)" = 1.0 ] || fail "the class's Version"
    [ "$(reg_value "$class_key\\Typelib" /ve)" = "{2C9D68B6-D2AE-41BB-9161-409F995B3444}" ] || fail "the class's Typelib"
    [ "$(reg_value "$progid_key" /ve)" = "PlainOptions Object" ] || fail "the ProgID's description"
    [ "$(reg_value "$progid_key\\CLSID" /ve)" = "{71D12FBC-BCD2-49AD-A254-B46503A8DA23}" ] || fail "the ProgID's CLSID"
    key_exists "$typelib_key\\1.0" || fail "the type library is not registered"
    echo "registered: class, ProgID and type library"
    ;;

vbscript)
    # Every priced line of the script is put to the Linux build as the same
    # request; the two must answer the same failure or the same value. The
    # two maths libraries differ in the last bits of exp, log and pow: closed
    # forms agree to VBScript's 15 printed digits (a few 1e-15 apart), while
    # sensitivities by finite differences magnify the difference by the
    # inverse bump (1e5), to some 1e-10. So values agree to 1e-9, relative.
    out="$build/AllMethods.out"  # one per DLL: the two runs may overlap
    status=0
    cscript //nologo "$(windows_path "$source_dir/tests/windows/AllMethods.vbs")" | tr -d '\r' >"$out" || status=$?
    cat "$out"
    [ "$status" -eq 0 ] || fail "the script's own checks failed (exit $status)"
    grep -q '^all checks held$' "$out" || fail "the script did not finish"
    compared=0
    while IFS= read -r line; do
        request=${line%% => *}
        outcome=${line#* => }
        read -ra words <<<"$request"
        json=$("${KESTRIX_HOST:?}" call "${words[@]}" --json || true)
        if [[ $outcome == error* ]]; then
            # error 0xHHHHHHHH context=N helpfile=FILE source=SOURCE : DESCRIPTION
            read -r _ code context helpfile _ <<<"${outcome%% : *}"
            description=${outcome#* : }
            expected="{\"hresult\":\"$code\",\"description\":\"$description\",\"helpFile\":\"${helpfile#helpfile=}\",\"helpContext\":${context#context=},"
            [[ $json == "$expected"* ]] || fail "$request: Wine: $outcome; Linux: $json"
        else
            linux=$(sed -n 's/.*"result":\([^}]*\)}.*/\1/p' <<<"$json")
            [ -n "$linux" ] || fail "$request: Wine: $outcome; Linux: $json"
            same=$(awk -v a="$outcome" -v b="$linux" \
                'function abs(x) { return x < 0 ? -x : x } BEGIN { print (abs(a - b) <= 1e-9 * (abs(b) > 1e-3 ? abs(b) : 1e-3)) }')
            [ "$same" = 1 ] || fail "$request: Wine prints $outcome, Linux computes $linux"
        fi
        compared=$((compared + 1))
    done < <(grep ' => ' "$out")
    [ "$compared" -ge 20 ] || fail "only $compared requests compared"
    echo "$compared requests print the same as the Linux build"
    ;;

example)
    # The README's example, run as a user would.
    example="$source_dir/examples/kestrix.vbs"
    out=$(cscript //nologo "$(windows_path "$example")" | tr -d '\r')
    echo "$out"
    grep -qx 'Call value: 10.4505756193223' <<<"$out" || fail "the example's value"
    grep -qx 'Error 0x80050002: StrikePrice must be greater than 0. (Kestrix.hlp, context 2)' <<<"$out" ||
        fail "the example's error"
    # The README shows the file as it is.
    readme=$(tr -d '\r' <"$source_dir/README.md")
    [[ $readme == *"$(cat "$example")"* ]] || fail "README.md does not show examples/kestrix.vbs as it is"
    ;;

client)
    client=$(windows_path "$build/bin/kestrix-client.exe") || fail "winepath failed for the client"
    library=$(windows_path "$dll") || fail "winepath failed for the library"
    status=0
    run "$client" "$library" | tr -d '\r' || status=$?
    [ "$status" -eq 0 ] || fail "the client exited with status $status"
    ;;

unregister)
    regsvr32 /s /u "$(windows_path "$dll")" || fail "regsvr32 /u Kestrix.dll failed"
    ! key_exists "$class_key" || fail "the class key is still there"
    ! key_exists "$progid_key" || fail "the ProgID key is still there"
    key_exists "$typelib_key\\1.0" || fail "the type library was unregistered too"
    # A second removal finds nothing to remove and still succeeds.
    regsvr32 /s /u "$(windows_path "$dll")" || fail "regsvr32 /u of an unregistered server failed"
    echo "unregistered: class and ProgID gone, type library kept"
    ;;

shutdown)
    timeout 120 wineserver -w
    ;;

zip)
    # Both DLLs with their type libraries, the example and the note, from the
    # two builds' install rules.
    config="$work/CPackWindowsConfig.cmake"
    cat >"$config" <<CONFIG
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Kestrix)
set(CPACK_PACKAGE_VERSION $version)
set(CPACK_PACKAGE_FILE_NAME Kestrix-$version-windows)
set(CPACK_PACKAGE_DESCRIPTION "Kestrix.dll for 64-bit and 32-bit Windows")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_CMAKE_GENERATOR Ninja)
set(CPACK_INSTALL_CMAKE_PROJECTS "$work/build;Kestrix;windows;/;$work/build-x86;Kestrix;windows;/")
CONFIG
    rm -rf "$work/zip"
    cpack --config "$config" -B "$work/zip"
    archive="$work/zip/Kestrix-$version-windows.zip"
    listing=$(cmake -E tar tf "$archive" | grep -v '/$' | sort)
    echo "$listing"
    for file in x64/Kestrix.dll x86/Kestrix.dll x64/Kestrix.tlb x86/Kestrix.tlb kestrix.vbs REGISTERING.txt; do
        grep -qx "Kestrix-$version-windows/$file" <<<"$listing" || fail "the zip lacks $file"
    done
    [ "$(wc -l <<<"$listing")" -eq 6 ] || fail "the zip holds more than the six files"
    ;;

*)
    echo "unknown step $step" >&2
    exit 2
    ;;
esac
