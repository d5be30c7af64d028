#!/usr/bin/env bash
# Qt 5.15 for Windows (MinGW-w64, posix threads) in PREFIX, for the cross build.
#   tools/windows/build-qt.sh PREFIX
# Qt is Debian's qtbase 5.15.8+dfsg-11+deb12u3 with its whole patch series (the
# security fixes among them). Uses the prebuilt tree of that version when it can be
# found (BW_QT_ARCHIVE, or shared/windows/ beside the checkout or one of its parent
# folders) and has the expected checksum; otherwise builds qtbase from Debian's
# source package (about 20 minutes on two quiet cores); BW_QT_FROM_SOURCE=1 skips the
# prebuilt tree. The result is kept: a second run with the same PREFIX does nothing,
# and the build folder is removed unless BW_QT_BUILD_DIR names it.
# PREFIX/.boxwright-qt names the Debian version, which the program shows in its About box.
set -euo pipefail
prefix=${1:?usage: $0 PREFIX}
prefix=$(realpath -m "$prefix")
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

debian_version=5.15.8+dfsg-11+deb12u3
archive_name=qt-$debian_version-mingw64-posix.tar.xz
archive_sha256=d687991935405e3a9a5df86592c581f80b57fe81ecea9e89c41cb3a790e5f36c
stamp="$prefix/.boxwright-qt"
stamp_text="qtbase $debian_version win32-g++ posix"

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
    work=$(realpath -m "${BW_QT_BUILD_DIR:-$(dirname "$prefix")/qtbase-build}")
    mkdir -p "$work"
    cd "$work"
    # dpkg-source applies Debian's whole patch series, the security fixes among them.
    local src=qtbase-$debian_version
    if [ ! -f "$src/.boxwright-unpacked" ]; then
        if [ ! -f "qtbase-opensource-src_$debian_version.dsc" ]; then
            local sources=/etc/apt/sources.list.d/debian.sources
            if [ -f "$sources" ] && ! grep -q 'deb-src' "$sources"; then
                sed -i 's/^Types: deb$/Types: deb deb-src/' "$sources"
            fi
            apt-get update -qq
            apt-get source --download-only "qtbase-opensource-src=$debian_version"
        fi
        rm -rf "$src"
        dpkg-source -x "qtbase-opensource-src_$debian_version.dsc" "$src"
        touch "$src/.boxwright-unpacked"
    fi
    # The win32-g++ mkspec links -lSecur32 -lCrypt32; MinGW names them in lower case.
    mkdir -p links/bin
    ln -sf /usr/x86_64-w64-mingw32/lib/libsecur32.a links/libSecur32.a
    ln -sf /usr/x86_64-w64-mingw32/lib/libcrypt32.a links/libCrypt32.a
    # The posix-thread compilers whatever the system's alternatives say.
    ln -sf "$(command -v x86_64-w64-mingw32-gcc-posix)" links/bin/x86_64-w64-mingw32-gcc
    ln -sf "$(command -v x86_64-w64-mingw32-g++-posix)" links/bin/x86_64-w64-mingw32-g++
    export PATH="$work/links/bin:$PATH"
    rm -rf build && mkdir build && cd build
    "../$src/configure" -xplatform win32-g++ \
        -device-option CROSS_COMPILE=x86_64-w64-mingw32- -prefix "$prefix" \
        -opensource -confirm-license -release -shared -nomake examples -nomake tests \
        -no-opengl -no-dbus -no-icu -no-feature-sql -no-feature-tabletevent \
        -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz \
        -no-openssl -schannel -L "$work/links"
    # A lone "make install" never builds the bundled static libraries (libqtpcre2.a,
    # libqtharfbuzz.a, ...) that Qt5Core.dll and Qt5Gui.dll link: their install step
    # installs nothing, so nothing asks for them. Build them first, through src/'s own
    # targets, which also build what they need (QtCore for most of them). Makefiles
    # for src/ only: the tests' tree names modules this build leaves out.
    make sub-src-qmake_all
    local targets
    targets=$(sed -n 's/^\(sub-3rdparty-[A-Za-z0-9_]*-make_first\):.*/\1/p' src/Makefile)
    [ -n "$targets" ]
    # shellcheck disable=SC2086
    make -C src -j"$(nproc)" $targets
    make -j"$(nproc)" install
    # The host qmake is installed unstripped (28 MB).
    strip "$prefix/bin/qmake"
    # The objects (1.6 GB) are never used again: the stamp stops later builds.
    if [ -z "${BW_QT_BUILD_DIR:-}" ]; then
        cd /
        rm -rf "$work"
    fi
}

archive=
if [ "${BW_QT_FROM_SOURCE:-0}" != 1 ]; then
    archive=$(find_archive || true)
fi
if [ -z "$archive" ] || ! unpack_prebuilt "$archive"; then
    echo "Qt for Windows: no prebuilt tree used; building qtbase from source (about 20 minutes on two quiet cores)"
    build_from_source
fi
echo "$stamp_text" >"$stamp"
echo "Qt for Windows in $prefix"
