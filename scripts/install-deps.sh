#!/usr/bin/env bash
# Installs everything the build, the tests and the station need, from Debian's packages.
# Safe to run again: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ccache
  clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libqt6serialport6-dev libqt6sql6-sqlite libqt6sql6-odbc
  qt6-image-formats-plugins
  libfreetype-dev libfontconfig-dev fonts-liberation fonts-dejavu-core
  liblog4cxx-dev
  libopencv-imgproc-dev
  libtesseract-dev tesseract-ocr-eng
  libdmtx-dev libqrencode-dev libzxing-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  libaravis-dev libusb-1.0-0-dev
  libsqlite3-dev sqlite3
  unixodbc unixodbc-dev odbc-mariadb tdsodbc
  mariadb-server mariadb-client
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  locales
  help2man lintian librsvg2-bin desktop-file-utils appstream man-db
  xvfb openbox xdotool x11-utils imagemagick
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
else
  echo "install-deps: everything is installed"
fi

# A comma-decimal locale for the locale tests.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "install-deps: could not generate de_DE.UTF-8"
fi
