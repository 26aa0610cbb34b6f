#!/usr/bin/env bash
# Builds the shipped program from two fresh clones in folders of different
# names and lengths and checks that both give the same KvWin101.exe, byte for
# byte: no timestamp and no build path may reach the program.
# Usage: check.sh SOURCE_REPO HOST_ENCODER
set -euo pipefail
repo=$1
encoder=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

build() {
  local dir=$1
  git clone --quiet "$repo" "$dir/src"
  cmake -S "$dir/src" -B "$dir/build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DKV_LZSS_TOOL="$encoder" >/dev/null
  cmake --build "$dir/build" --target KvWin101 -j "$(nproc)" >/dev/null
}

build "$work/a"
build "$work/a-much-longer-folder-name/nested"
first=$work/a/build/KvWin101.exe
second=$work/a-much-longer-folder-name/nested/build/KvWin101.exe
if cmp "$first" "$second"; then
  echo "reproducible: $(sha256sum < "$first" | cut -d' ' -f1)  KvWin101.exe ($(stat -c %s "$first") bytes)"
else
  echo "the two builds differ" >&2
  exit 1
fi
