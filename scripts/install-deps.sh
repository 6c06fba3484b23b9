#!/usr/bin/env bash
# Installs every Debian package that building, running and testing TovikNote needs.
# Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config git
  libsqlite3-dev libsqlitecpp-dev nlohmann-json3-dev
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-declarative-dev-tools qt6-svg-dev
  qt6-qpa-plugins libqt6svg6 qml6-module-qtquick qml6-module-qtquick-controls
  qml6-module-qtquick-layouts qml6-module-qtquick-window qml6-module-qtquick-templates
  qml6-module-qtqml-workerscript qml6-module-qttest qml6-module-qtquick-shapes
  qml6-module-qt-labs-platform qml6-module-qtquick-dialogs
  qcoro-qt6-dev
  libsecret-1-dev gnome-keyring dbus dbus-x11 libcpp-httplib-dev libssl-dev openssl libgit2-dev zlib1g-dev libsimdjson-dev
  libcurl4-openssl-dev python3-aiosmtpd libboost-dev
  libpq-dev postgresql nginx systemd
  python3 python3-dbus
  xvfb xauth x11-apps imagemagick openbox xdotool
  desktop-file-utils appstream librsvg2-bin dpkg-dev
  at-spi2-core python3-pyatspi python3-gi iproute2 util-linux
  fonts-material-design-icons-iconfont fonts-dejavu-core fonts-noto-cjk fonts-noto-color-emoji
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libx11-dev libxdamage-dev libxtst-dev libxcb1-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
