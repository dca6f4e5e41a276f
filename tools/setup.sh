#!/usr/bin/env bash
# Installs what the build and the tests need and is missing. Idempotent: when
# everything is present it changes nothing and needs no privileges.
set -euo pipefail

packages=(
  cmake make g++ python3 zlib1g-dev libgtest-dev libbenchmark-dev
  libcli11-dev libdeflate-dev libssl-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev
  wine wine32:i386 wine64 xvfb xauth
  python3-pefile icoutils osslsigncode openssl
  zip unzip time imagemagick
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "setup: run as root (or install the packages above) first" >&2
  exit 1
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}"
