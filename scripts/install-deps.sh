#!/usr/bin/env bash
# Installs what the build, the tests and the Wine runs need: Debian packages only.
# Idempotent: on a machine that has everything it only checks and returns.
set -euo pipefail

packages=(
  cmake make g++ python3 git
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  libgtest-dev libbenchmark-dev clang libclang-rt-14-dev
  wine wine64 fonts-wine xvfb xauth x11-utils imagemagick
  locales fonts-ipafont-gothic
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine reads the ANSI code page from the locale: Japanese gives code page 932.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
  echo "install-deps: generating the ja_JP.UTF-8 locale"
  as_root sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
fi
