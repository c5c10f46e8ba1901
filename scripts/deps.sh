#!/usr/bin/env bash
# Installs what the builds and tests need on a fresh Debian machine; does nothing when all is present.
set -euo pipefail
pkgs=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev
      g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
      wine64 xvfb xdotool xclip doublecmd-gtk x11-apps imagemagick clang libclang-rt-14-dev python3 ninja-build
      g++-multilib)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
