#!/usr/bin/env bash
# cpp-httplib as one header for the Windows build of the test servers.
#   tools/windows/httplib.sh DIR     -> DIR/httplib.h
# Debian's binary package splits the library into a header and a Linux shared
# library; its source package has the single header of the same version, to
# which Debian's own patches are applied here. Kept: a second run does nothing.
set -euo pipefail
dir=${1:?usage: $0 DIR}
version=0.11.4
mkdir -p "$dir"
dir=$(realpath "$dir")
if [ -f "$dir/httplib.h" ] && grep -q "CPPHTTPLIB_VERSION \"$version\"" "$dir/httplib.h"; then
    exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
sources=/etc/apt/sources.list.d/debian.sources
if ! apt-get source --download-only cpp-httplib >/dev/null 2>&1; then
    # Source packages need deb-src in the apt sources.
    if [ -f "$sources" ] && ! grep -q 'deb-src' "$sources"; then
        sed -i 's/^Types: deb$/Types: deb deb-src/' "$sources"
    fi
    apt-get update -qq
    apt-get source --download-only cpp-httplib >/dev/null
fi
tar -xJf cpp-httplib_"$version"*.orig.tar.xz
tar -xJf cpp-httplib_"$version"*.debian.tar.xz
src=$(find . -maxdepth 2 -name httplib.h -path '*httplib*' | head -n 1)
src=$(dirname "$src")
if [ -f debian/patches/series ]; then
    while read -r patch; do
        [ -n "$patch" ] && patch -s -d "$src" -p1 <"debian/patches/$patch"
    done < <(grep -Ev '^\s*(#|$)' debian/patches/series)
fi
grep -q "CPPHTTPLIB_VERSION \"$version\"" "$src/httplib.h"
cp "$src/httplib.h" "$dir/httplib.h"
echo "httplib.h $version in $dir"
