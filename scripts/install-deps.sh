#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need.
# Only packages that are missing are installed, so a prepared machine pays nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools
  qt6-multimedia-dev libqt6opengl6-dev libgl-dev libegl-dev
  qt6-qpa-plugins libqt6svg6
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-httpserver-dev qt6-websockets-dev zlib1g-dev
  qtkeychain-qt6-dev qt6-translations-l10n dpkg-dev appstream file
  libqt6sql6-sqlite nginx-light xvfb xauth stress-ng qt6-pdf-dev
  fonts-noto-cjk xdg-utils curl procps dbus python3-bibtexparser
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
