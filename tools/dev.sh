#!/usr/bin/env bash
# Developer entry point: installs what is missing, builds and runs.
#   tools/dev.sh test    build (warnings are errors) and run every test
#   tools/dev.sh test6   the same against Qt 6, in build-qt6/
#   tools/dev.sh demo    build the program and its demo tools only, and start the demo
#   tools/dev.sh asan    tests under AddressSanitizer + UndefinedBehaviorSanitizer
#   tools/dev.sh fuzz    build the fuzz targets with clang and run each briefly
#   tools/dev.sh format  check formatting against .clang-format
#   tools/dev.sh package build the Debian package and check it with lintian
#   tools/dev.sh windows cross-build for Windows, run the tests under Wine, make and
#                        check the installer (tools/windows/build.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

install_deps() { # [package list]
    mapfile -t pkgs < <(grep -Ev '^\s*(#|$)' "${1:-tools/debian-packages.txt}")
    local missing=()
    for p in "${pkgs[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

configure_build() { # dir, extra cmake args...
    local dir=$1; shift
    cmake -S "$root" -B "$dir" -DBW_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j"$jobs" ${BW_TARGETS:+--target $BW_TARGETS}
}

# What the demo runs: the program, the virtual key, the demo web service and
# relay, and the screenshot helper of the headless run. Nothing else is built.
demo_targets="boxwright boxwright-virtual-key boxwright-demo-service boxwright-demo-relay boxwright-demo-shot"

cmd=${1:-test}
case "$cmd" in
test)
    install_deps
    configure_build build
    ctest --test-dir build --output-on-failure -j"$jobs" ;;
test6)
    install_deps
    install_deps tools/debian-packages-qt6.txt
    configure_build build-qt6 -DBW_QT_MAJOR=6
    ctest --test-dir build-qt6 --output-on-failure -j"$jobs" ;;
asan)
    install_deps
    configure_build build-asan -DBW_SANITIZE=ON -DBW_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
    # The umockdev preload is loaded ahead of the sanitizer runtime in emulated-key tests.
    ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions=$root/tools/lsan.supp \
        ctest --test-dir build-asan --output-on-failure -j"$jobs" ;;
fuzz)
    install_deps
    CC=clang CXX=clang++ configure_build build-fuzz -DBW_FUZZ=ON -DBW_TESTS=OFF -DBW_BENCH=OFF -DBW_TOOLS=OFF
    secs=${FUZZ_SECONDS:-30}
    found=0
    for f in build-fuzz/fuzz/*/fuzz_*; do
        [ -f "$f" ] && [ -x "$f" ] || continue
        found=1
        name=$(basename "$f")
        corpus="fuzz/corpus/$name"
        work=$(mktemp -d)
        [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
        dict=()
        [ -f "fuzz/dict/$name.dict" ] && dict=(-dict="fuzz/dict/$name.dict")
        echo "== $name (${secs}s)"
        "$f" -max_total_time="$secs" -rss_limit_mb=2048 -print_final_stats=1 "${dict[@]}" "$work" 2>&1 \
            | grep -E 'DONE|number_of_executed_units|ERROR|SUMMARY|Test unit written'
        rm -rf "$work"
    done
    [ $found -eq 1 ] || { echo "no fuzz targets built"; exit 1; } ;;
deps)
    install_deps ;;
format)
    git ls-files '*.cpp' '*.h' | xargs -r clang-format --dry-run --Werror ;;
windows)
    install_deps tools/windows/debian-packages.txt
    exec bash tools/windows/build.sh ;;
demo)
    install_deps
    BW_TARGETS=$demo_targets configure_build build
    exec bash demo/run-demo.sh build ;;
package)
    install_deps
    BW_TARGETS="boxwright boxwright-udev-probe" configure_build build
    (cd build && cpack -G DEB) | tail -n 1
    deb=$(ls -t build/boxwright_*.deb | head -n 1)
    # Errors fail the check; warnings are shown.
    lintian --fail-on error "$deb" ;;
*)
    echo "usage: $0 test|test6|demo|asan|fuzz|format|package|deps|windows" >&2; exit 2 ;;
esac
