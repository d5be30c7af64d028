#!/usr/bin/env bash
# The whole Windows build, on Linux: Qt for Windows (kept between runs), the cross
# build, the tests under Wine, the installer, and the installer's round trip under
# Wine. Run through `bash tools/dev.sh windows`, which installs the packages first.
#   BW_WINDOWS_BUILD  build folder (build-windows)
#   BW_WINDOWS_CACHE  where Qt for Windows and httplib.h are kept (~/.cache/boxwright-windows)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
build=${BW_WINDOWS_BUILD:-$root/build-windows}
cache=${BW_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/boxwright-windows}
jobs=$(nproc)

started=$SECONDS
step_start=$SECONDS
step() {
    [ "$step_start" -ne "$SECONDS" ] && echo "    (${last_step:-start}: $((SECONDS - step_start)) s)"
    last_step=$1
    step_start=$SECONDS
    echo "### windows: $1"
}

# Qt needs the posix thread model of MinGW.
for tool in gcc g++; do
    alt=/usr/bin/x86_64-w64-mingw32-$tool-posix
    if [ "$(readlink -f "/usr/bin/x86_64-w64-mingw32-$tool")" != "$(readlink -f "$alt")" ]; then
        update-alternatives --set "x86_64-w64-mingw32-$tool" "$alt" >/dev/null
    fi
done

step "Qt for Windows"
bash tools/windows/build-qt.sh "$cache/qt5-mingw64"
bash tools/windows/httplib.sh "$cache/httplib"

step "cross build"
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # Paths relative to the checkout, so another clone of it hits the same cache.
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
fi
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
    -DBW_QT_PREFIX="$cache/qt5-mingw64" -DBW_HTTPLIB_DIR="$cache/httplib" \
    -DCMAKE_BUILD_TYPE=Release -DBW_WERROR=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$jobs"

step "tests under Wine"
ctest --test-dir "$build" --output-on-failure -j"$jobs"

step "demo under Wine (test build with a virtual key behind the test boundary)"
bash demo/windows/wine-demo.sh "$build/bin" "$build/demo-out" "$build/wineprefix-demo"

step "installer"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
(cd "$build" && cpack -G NSIS >/dev/null)
installer="$build/boxwright-$version-win64.exe"
ls -l "$installer"

step "installer round trip under Wine"
bash tools/windows/installer-check.sh "$installer" "$build/installer-check" \
    "$build/bin/boxwright-demo-shot.exe"

step "start-up benchmark (figures only)"
bash bench/windows/startup.sh "$build/bin" 5 || echo "start-up benchmark did not finish"

step "paced-write benchmark (figures only)"
bash bench/windows/pacing.sh "$build/bin" || echo "paced-write benchmark did not finish"

step "done"
echo "### windows: all steps passed in $((SECONDS - started)) s"
