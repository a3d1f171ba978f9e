#!/usr/bin/env bash
# Builds the Debian package of the tool, BUILD_DIR/<name>_<version>_<arch>.deb
# (default build/), from the install rules of the build, and prints its path.
# Needs dpkg-dev (dpkg-shlibdeps); scripts/setup.sh installs it.
set -euo pipefail
umask 022

root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"

"$root/scripts/build.sh" >&2

. "$build_dir/package-info.sh"
name="$package_name"
version="$package_version"
arch="$(dpkg --print-architecture)"
maintainer="Orvane Tessaly <support@tessaly.example>"

# Needed at run time without being linked: the QML modules the documents
# import (scripts/check-package.sh holds this list against src/qml), and a
# font for the text the platform draws: the controls' default font, from
# which every size of the window derives.
runtime_depends=(
  qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls
  qml-module-qtquick-layouts fonts-roboto-unhinted
)

work="$build_dir/package"
stage="$work/root"
rm -rf "$work"
mkdir -p "$stage/DEBIAN"
DESTDIR="$stage" cmake --install "$build_dir" --prefix /usr --strip >&2
executable="$stage/usr/lib/$app_id/$name"
command="$stage/usr/lib/$app_id/tessaly-config-cli"
strip --remove-section=.comment "$executable" "$command"

# The changelog of a native package; dated by the last commit, so that the
# same checkout gives the same package.
doc="$stage/usr/share/doc/$name"
date="$(git -C "$root" log -1 --format=%cD 2>/dev/null || date -R)"
printf '%s (%s) unstable; urgency=medium\n\n  * Release %s.\n\n -- %s  %s\n' \
  "$name" "$version" "$version" "$maintainer" "$date" | gzip -9n >"$doc/changelog.gz"

# dpkg-shlibdeps reads the package's names from a debian/control.
mkdir -p "$work/debian"
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$name" "$name" >"$work/debian/control"
shlibs="$(cd "$work" && dpkg-shlibdeps -O "$executable" "$command")"
shlibs="${shlibs#shlibs:Depends=}"
if [ -z "$shlibs" ]; then
  echo "package.sh: dpkg-shlibdeps found no library dependencies" >&2
  exit 1
fi

chmod -R u+rwX,go+rX,go-w "$stage"
(cd "$stage" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$stage/DEBIAN/md5sums"
chmod 0644 "$stage/DEBIAN/md5sums"

cat >"$stage/DEBIAN/control" <<EOF
Package: $name
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$stage" | cut -f1)
Depends: $shlibs, $(printf '%s, ' "${runtime_depends[@]}" | sed 's/, $//')
Section: net
Priority: optional
Homepage: https://www.tessaly.example
Description: configure the video-management servers of a local network
 The Orvane Tessaly Server Configuration Tool finds the video-management
 servers of the local network by UDP multicast, groups them by system and
 logs in to them. It changes on many servers at once the system name, the
 administrator password, the HTTP port, the IPv4 settings of each interface
 and the date, time and time zone, and reports per server what was changed
 and what failed.
 .
 The command tessaly-config-cli does the same from scripts: it lists the
 servers, or applies one set of changes to those selected, and reports the
 result of every change as a table or as JSON.
EOF

deb="$build_dir/${name}_${version}_${arch}.deb"
rm -f "$build_dir/${name}"_*.deb
dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >&2
echo "$deb"
