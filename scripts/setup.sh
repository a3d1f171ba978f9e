#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages the tool and its tests need that
# are not installed yet; does nothing when all are there. With --sanitize,
# also what the sanitizer and fuzzing builds need.
set -euo pipefail

packages=(
  cmake g++ make git ccache pkg-config
  qtbase5-dev qtdeclarative5-dev qtdeclarative5-dev-tools qtbase5-private-dev qtdeclarative5-private-dev
  zlib1g-dev
  qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls
  qml-module-qtquick-dialogs qml-module-qtquick-layouts qml-module-qttest
  qml-module-qtquick-privatewidgets qml-module-qt-labs-folderlistmodel
  qml-module-qt-labs-settings qml-module-qtqml-models2
  xvfb xauth fonts-roboto-unhinted librsvg2-bin python3 iproute2 util-linux tzdata
  dpkg-dev lintian desktop-file-utils appstream x11-utils gzip
  dbus dbus-bin at-spi2-core python3-pyatspi gir1.2-atspi-2.0 xdotool
  apache2 nginx-light curl orca openbox nftables ansible-core yamllint pyflakes3
  python3-jsonschema
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
# The web servers are counterparts that the tests start themselves, inside
# their own namespaces: their packages must not start them on the host.
# Debian's policy-rc.d hook keeps every service down while we install.
policy=/usr/sbin/policy-rc.d
own_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
  "${sudo[@]}" chmod 755 "$policy"
  own_policy=1
fi
remove_policy() {
  if [ "$own_policy" -eq 1 ]; then
    "${sudo[@]}" rm -f "$policy"
  fi
}
trap remove_policy EXIT
# A new machine may be running its own apt jobs: wait for the lock, and try
# a download that failed once more.
apt_options=(-o DPkg::Lock::Timeout=300 -o Acquire::Retries=3)
"${sudo[@]}" apt-get update -qq "${apt_options[@]}"
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${apt_options[@]}" \
  "${missing[@]}"
