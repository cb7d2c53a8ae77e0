#!/usr/bin/env bash
# Makes what a user downloads: the shipped 32-bit program built in Release,
# the two help documents it opens, and a SHA-256 checksum file, in
# release/sorvane-<version>/ and zipped to release/sorvane-<version>.zip.
# The version is the one the about box shows ("Sorvane ver X.Y").
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

bash scripts/install-deps.sh

version=$(sed -n 's/.*"Sorvane ver \([0-9][0-9.]*\)[^0-9.].*/\1/p' resources/sorvane.rc | head -n1)
if [ -z "$version" ]; then
  echo "release: no version found in resources/sorvane.rc" >&2
  exit 1
fi

# The same configuration as scripts/build.sh gives the win32 tree; a tree
# configured otherwise (say, as Debug) is not what ships, so refuse it.
b=${SORVANE_BUILD:-build}
tree=$b/win32
if [ ! -f "$tree/CMakeCache.txt" ]; then
  cmake -S . -B "$tree" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-win32.cmake \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
fi
if ! grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$tree/CMakeCache.txt"; then
  echo "release: $tree is not configured for Release" >&2
  exit 1
fi
cmake --build "$tree" --target sorvane -j "$(nproc)"

# The help menu and the settings dialog open these by name: a folder
# without them would ship a program whose help commands fail.
for doc in Readme.htm ReadMe.txt; do
  if [ ! -f "docs/$doc" ]; then
    echo "release: docs/$doc is missing" >&2
    exit 1
  fi
done

name=sorvane-$version
out=release/$name
rm -rf "$out" "release/$name.zip"
mkdir -p "$out"
cp "$tree/sorvane.exe" "$out/sorvane.exe"
cp docs/Readme.htm docs/ReadMe.txt "$out/"
(cd "$out" && sha256sum sorvane.exe Readme.htm ReadMe.txt > SHA256SUMS)

# Same sources, same zip: the files carry the time of the last commit and
# the archive no extra attributes.
stamp=$(git log -1 --format=%ct 2>/dev/null || date +%s)
touch -d "@$stamp" "$out" "$out"/*
(cd release && zip -qX "$name.zip" "$name/" "$name/sorvane.exe" "$name/Readme.htm" "$name/ReadMe.txt" \
  "$name/SHA256SUMS")

file "$out/sorvane.exe" 2>/dev/null || true
cat "$out/SHA256SUMS"
ls -l "release/$name.zip"
