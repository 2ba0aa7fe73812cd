#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine, as root:
# the cross compiler, Wine and its own fonts (the caption buttons need them),
# Xvfb, 7-Zip, Pillow and pefile for the pictures and resources, osslsigncode
# and openssl for signing, the Chinese and a Western locale, a Chinese font,
# and the LZMA SDK source from Debian's 7zip source package (unpacked under
# deps/, never into the repository). Each part is skipped when it is already
# there, so a second run takes about a second.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
deps="$top/deps"

packages=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth imagemagick xdotool locales fonts-wqy-microhei
  7zip googletest cmake make dpkg-dev xz-utils ca-certificates python3 time
  fonts-wine python3-pil python3-pefile osslsigncode openssl nsis
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine reports ANSI code page 936 only under a Chinese locale; the tests run
# under a Western one (code page 1252) as well.
generate=0
for name in zh_CN en_US; do
  if ! locale -a 2>/dev/null | grep -qi "^$name\.utf-\?8\$"; then
    echo "setup: enabling $name.UTF-8"
    sed -i "s/^# *\($name.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$name.UTF-8 UTF-8" /etc/locale.gen || echo "$name.UTF-8 UTF-8" >> /etc/locale.gen
    generate=1
  fi
done
if [ $generate -eq 1 ]; then
  locale-gen >/dev/null
fi

# The LZMA SDK: the C/ folder of Debian's 7zip source package.
sdk="$deps/7zip"
if [ ! -f "$sdk/C/7zArcIn.c" ]; then
  echo "setup: fetching the LZMA SDK source"
  mkdir -p "$deps/apt/parts" "$deps/apt/lists/partial" "$deps/src"
  # A private apt configuration with deb-src entries derived from the
  # machine's own, so nothing of the system's set-up changes.
  : > "$deps/apt/parts/src.sources"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && sed 's/^Types:.*$/Types: deb-src/' "$f" >> "$deps/apt/parts/src.sources" && echo >> "$deps/apt/parts/src.sources"
  done
  if [ -f /etc/apt/sources.list ]; then
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > "$deps/apt/parts/src.list" || true
  fi
  apt_opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$deps/apt/parts"
            -o "Dir::State::Lists=$deps/apt/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
  apt-get "${apt_opts[@]}" update -qq
  (cd "$deps/src" && apt-get "${apt_opts[@]}" source --download-only 7zip >/dev/null 2>&1)
  orig=$(ls "$deps/src"/7zip_*.orig.tar.* | head -n 1)
  rm -rf "$sdk.tmp" && mkdir -p "$sdk.tmp"
  tar -xf "$orig" -C "$sdk.tmp"
  inner=$(dirname "$(find "$sdk.tmp" -name 7zArcIn.c -path '*/C/*' | head -n 1)")
  rm -rf "$sdk" && mv "$(dirname "$inner")" "$sdk" && rm -rf "$sdk.tmp"
fi
