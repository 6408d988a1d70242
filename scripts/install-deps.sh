#!/usr/bin/env bash
# Installs every Debian 12 package ravlen needs to build, run and test.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
PKGS=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-qpa-plugins libgl-dev
  qt6-xdgdesktopportal-platformtheme
  libmupdf-dev mupdf-tools libharfbuzz-dev libfreetype-dev libfontconfig-dev libopenjp2-7-dev libjbig2dec0-dev
  libjpeg62-turbo-dev zlib1g-dev libgumbo-dev libmujs-dev
  libtesseract-dev tesseract-ocr-eng libleptonica-dev
  libsodium-dev libicu-dev nlohmann-json3-dev libsqlite3-dev sqlite3 libseccomp-dev libheif-dev libqpdf-dev libpng-dev libtiff-dev libarchive-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev libx11-dev libxext-dev
  fonts-dancingscript fonts-kaushanscript fonts-kristi fonts-breip fonts-dejavu-core fonts-wqy-zenhei
  clang-format-14 xvfb xauth poppler-utils imagemagick qpdf libtiff-tools openssl
  # certutil and pk12util: an NSS key store for pdfsig to sign test files with
  libnss3-tools
  # The launch test watches what the program and the D-Bus session start it triggers open
  strace dbus-x11
  # Show in Folder's tests start a session bus of their own, with a file manager on it
  dbus-daemon
  # xdg-mime sets ravlen as the PDF viewer ("Use ravlen for PDFs"); xdg-email mails a copy
  xdg-utils
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
