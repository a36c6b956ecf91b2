#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Vantrel needs.
# Idempotent: when everything is already installed it only checks and returns.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  qt6-base-dev qt6-translations-l10n
  libsane-dev sane-utils
  cups cups-client cups-filters libcups2-dev
  xvfb xauth xdotool imagemagick poppler-utils fonts-wqy-zenhei
  libjpeg62-turbo-dev libjpeg-turbo-progs libpng-dev libtiff-dev libgif-dev
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  at-spi2-core dbus-x11
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
