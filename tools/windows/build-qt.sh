#!/usr/bin/env bash
# Qt 5.15 for Windows (MinGW-w64, posix threads) in PREFIX, for the cross build.
#   tools/windows/build-qt.sh PREFIX
# Uses the prebuilt tree qt-5.15.8-mingw64-posix.tar.xz when it can be found
# (BW_QT_ARCHIVE, or shared/windows/ beside the checkout or one of its parent
# folders); otherwise builds qtbase from Debian's source package (about an hour
# on two cores). The result is kept: a second run with the same PREFIX does nothing.
set -euo pipefail
prefix=${1:?usage: $0 PREFIX}
prefix=$(realpath -m "$prefix")
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

archive_name=qt-5.15.8-mingw64-posix.tar.xz
archive_sha256=f9ccdbc30e2de52b6d9150bcdd286d647577c0cecb72c1e6b6e1ca4975b560dc
stamp="$prefix/.boxwright-qt"
stamp_text="qtbase 5.15.8 win32-g++ posix"

if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$stamp_text" ] && [ -f "$prefix/lib/cmake/Qt5/Qt5Config.cmake" ]; then
    exit 0
fi

find_archive() {
    if [ -n "${BW_QT_ARCHIVE:-}" ]; then
        echo "$BW_QT_ARCHIVE"
        return
    fi
    local dir=$root
    while [ "$dir" != / ]; do
        dir=$(dirname "$dir")
        if [ -f "$dir/shared/windows/$archive_name" ]; then
            echo "$dir/shared/windows/$archive_name"
            return
        fi
    done
}

unpack_prebuilt() { # archive
    echo "Qt for Windows: unpacking $1"
    if ! echo "$archive_sha256  $1" | sha256sum --check --status; then
        echo "Qt for Windows: $1 does not have the expected checksum; building instead" >&2
        return 1
    fi
    local tmp
    mkdir -p "$(dirname "$prefix")"
    tmp=$(mktemp -d "$(dirname "$prefix")/.qt-unpack.XXXXXX")
    tar -xJf "$1" -C "$tmp"
    rm -rf "$prefix"
    mv "$tmp/qt5-mingw64" "$prefix"
    rm -rf "$tmp"
}

build_from_source() {
    local work
    work=${BW_QT_BUILD_DIR:-$(dirname "$prefix")/qtbase-build}
    mkdir -p "$work"
    cd "$work"
    if [ ! -d qtbase-everywhere-src-5.15.8 ]; then
        if ! ls qtbase-opensource-src_5.15.8*.orig.tar.xz >/dev/null 2>&1; then
            local sources=/etc/apt/sources.list.d/debian.sources
            if [ -f "$sources" ] && ! grep -q 'deb-src' "$sources"; then
                sed -i 's/^Types: deb$/Types: deb deb-src/' "$sources"
            fi
            apt-get update -qq
            apt-get source --download-only qtbase-opensource-src
        fi
        tar -xJf qtbase-opensource-src_5.15.8*.orig.tar.xz
    fi
    # The win32-g++ mkspec links -lSecur32 -lCrypt32; MinGW names them in lower case.
    mkdir -p links
    ln -sf /usr/x86_64-w64-mingw32/lib/libsecur32.a links/libSecur32.a
    ln -sf /usr/x86_64-w64-mingw32/lib/libcrypt32.a links/libCrypt32.a
    rm -rf build && mkdir build && cd build
    ../qtbase-everywhere-src-5.15.8/configure -xplatform win32-g++ \
        -device-option CROSS_COMPILE=x86_64-w64-mingw32- -prefix "$prefix" \
        -opensource -confirm-license -release -shared -nomake examples -nomake tests \
        -no-opengl -no-dbus -no-icu -no-feature-sql -no-feature-tabletevent \
        -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz \
        -no-openssl -schannel -L "$work/links"
    # One "make install" builds what is missing and installs; a separate "make" first
    # compiles most libraries twice.
    make -j"$(nproc)" install
}

archive=$(find_archive || true)
if [ -z "$archive" ] || ! unpack_prebuilt "$archive"; then
    echo "Qt for Windows: no prebuilt tree found; building qtbase from source (about an hour)"
    build_from_source
fi
echo "$stamp_text" >"$stamp"
echo "Qt for Windows in $prefix"
