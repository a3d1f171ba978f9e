#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages the tool and its tests need that
# are not installed yet; does nothing when all are there. With --sanitize,
# also what the sanitizer and fuzzing builds need.
set -euo pipefail

packages=(
  cmake g++ make git ccache pkg-config
  qtbase5-dev qtdeclarative5-dev qtdeclarative5-dev-tools
  qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls
  qml-module-qtquick-dialogs qml-module-qtquick-layouts qml-module-qttest
  qml-module-qtquick-privatewidgets qml-module-qt-labs-folderlistmodel
  qml-module-qt-labs-settings qml-module-qtqml-models2
  xvfb xauth fonts-roboto-unhinted librsvg2-bin python3 iproute2 util-linux tzdata
  dpkg-dev lintian desktop-file-utils appstream x11-utils gzip
  dbus dbus-bin at-spi2-core python3-pyatspi gir1.2-atspi-2.0 xdotool
)
# The sanitizer suite and the fuzz targets: clang with its run-time
# libraries (libFuzzer among them) and the symbolizer for their reports.
if [ "${1:-}" = "--sanitize" ]; then
  packages+=(clang libclang-rt-14-dev llvm)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
# A new machine may be running its own apt jobs: wait for the lock, and try
# a download that failed once more.
apt_options=(-o DPkg::Lock::Timeout=300 -o Acquire::Retries=3)
"${sudo[@]}" apt-get update -qq "${apt_options[@]}"
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${apt_options[@]}" \
  "${missing[@]}"
