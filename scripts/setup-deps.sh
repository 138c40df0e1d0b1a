#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test.
# Idempotent: packages already present are left alone, and apt is only asked
# when something is missing.
set -euo pipefail

PACKAGES=(
  poppler-utils
  build-essential g++ cmake ninja-build pkg-config git
  clang clang-format libclang-rt-14-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libyuv-dev
  libjpeg62-turbo-dev
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-translations-l10n
  libsdl2-dev
  libcli11-dev nlohmann-json3-dev
  libssl-dev
  libewf-dev ewf-tools
  libfuse3-dev fuse3
  libgtest-dev libgmock-dev
  fonts-dejavu-core fonts-dejavu-extra
  xvfb xauth x11-utils xdotool imagemagick
  ffmpeg mpv time libimage-exiftool-perl
  help2man dpkg-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
