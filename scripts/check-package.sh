#!/usr/bin/env bash
# Checks the Debian package end to end: builds it (scripts/package.sh), validates
# its desktop entry and metainfo, runs lintian, compares its file list, installs
# it with apt-get, starts the installed tool with an emptied environment on a
# virtual display inside a private network namespace until its window is mapped,
# stops it, runs the installed command there, purges the package and checks
# that nothing of it is left.
# Installing needs root or password-less sudo; without them that part is
# skipped, except in CI (CI=true), where it fails.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"
title="Orvane Tessaly Server Configuration Tool"
window_seconds=30

fail() {
  echo "check-package: FAILED: $*" >&2
  exit 1
}

# Inner part, run by the outer one on a virtual display in a private network
# namespace: starts the executable with nothing in its environment but the
# display and a home, waits for its window to be mapped, stops it.
if [ "${1:-}" = "--show-window" ]; then
  executable="$2"
  # A home of its own, so that Qt's caches land there and go with it.
  home="$(mktemp -d)"
  log="$home/log"
  env -i DISPLAY="$DISPLAY" XAUTHORITY="$XAUTHORITY" HOME="$home" XDG_RUNTIME_DIR="$home" \
    "$executable" >"$log" 2>&1 &
  pid=$!
  stop() {
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  }
  trap 'stop; rm -rf "$home"' EXIT
  mapped=0
  now_ms() { echo $(($(date +%s%N) / 1000000)); }
  deadline=$(($(now_ms) + window_seconds * 1000))
  while [ "$(now_ms)" -lt "$deadline" ]; do
    if xwininfo -name "$title" 2>/dev/null | grep -q 'Map State: IsViewable'; then
      mapped=1
      break
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
      cat "$log" >&2
      fail "$executable exited before mapping its window"
    fi
    sleep 0.1
  done
  if [ "$mapped" -ne 1 ]; then
    cat "$log" >&2
    fail "no window titled \"$title\" was mapped within ${window_seconds} s"
  fi
  # The icon comes from the embedded .ico through Qt's image format plug-ins.
  # Read whole before searching: under pipefail, grep -q leaving early would
  # make xprop die writing the rest and fail the check.
  icon="$(xprop -name "$title" _NET_WM_ICON 2>&1 || true)"
  if ! grep -q 'Icon (64 x 64)' <<<"$icon"; then
    grep -E 'Icon|error' <<<"$icon" | head -5 >&2 || true
    cat "$log" >&2
    fail "the window has no 64 x 64 icon"
  fi
  echo "window \"$title\" mapped, with its icon"
  exit 0
fi

started=$SECONDS
step() { echo "== check-package: $* ($((SECONDS - started)) s)"; }

step "building the package"
deb="$(timeout 600 "$root/scripts/package.sh")" || fail "scripts/package.sh failed"
[ -f "$deb" ] || fail "scripts/package.sh made no $deb"
. "$build_dir/package-info.sh"
name="$package_name"

scratch="$(mktemp -d)"
content="$scratch/content"
installed=0
sudo=()
cleanup() {
  if [ "$installed" -eq 1 ]; then
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq -o Dpkg::Use-Pty=0 -o DPkg::Lock::Timeout=300 "$name" >/dev/null 2>&1 || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$content"

step "validating the desktop entry and the metainfo"
desktop-file-validate "$content/usr/share/applications/$app_id.desktop" \
  || fail "desktop-file-validate rejects $app_id.desktop"
appstreamcli validate --no-net "$content/usr/share/metainfo/$app_id.metainfo.xml" \
  || fail "appstreamcli rejects $app_id.metainfo.xml"

step "lintian"
# lintian leaves files in TMPDIR.
mkdir "$scratch/lintian"
TMPDIR="$scratch/lintian" timeout 600 lintian --fail-on error,warning "$deb" || fail "lintian reports errors or warnings"

step "the package's files"
lib="./usr/lib/$app_id"
expected="$(sort <<EOF
./usr/bin/tessaly-config-cli
./usr/bin/tessaly-config-tool
$lib/plugins
$lib/qml
$lib/tessaly-config-cli
$lib/tessaly-config-tool
./usr/share/applications/$app_id.desktop
./usr/share/bash-completion/completions/tessaly-config-cli
./usr/share/doc/$name/Roboto-LICENSE.txt
./usr/share/doc/$name/changelog.gz
./usr/share/doc/$name/copyright
./usr/share/doc/$name/tessaly-config-cli.schema.json
./usr/share/icons/hicolor/128x128/apps/$app_id.png
./usr/share/icons/hicolor/256x256/apps/$app_id.png
./usr/share/icons/hicolor/48x48/apps/$app_id.png
./usr/share/icons/hicolor/scalable/apps/$app_id.svg
./usr/share/man/man1/tessaly-config-cli.1.gz
./usr/share/man/man1/tessaly-config-tool.1.gz
./usr/share/metainfo/$app_id.metainfo.xml
EOF
)"
listing="$(dpkg -c "$deb")"
actual="$(awk '$1 !~ /^d/ { print $6 }' <<<"$listing" | sort)"
if [ "$actual" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  fail "dpkg -c lists other files than expected (< expected, > packaged)"
fi
for program in tessaly-config-tool tessaly-config-cli; do
  grep -q "^-rwxr-xr-x root/root .* $lib/$program\$" <<<"$listing" \
    || fail "$program is not an executable file owned by root"
  grep -q " ./usr/bin/$program -> ../lib/$app_id/$program\$" <<<"$listing" \
    || fail "bin/$program is not a relative link to the executable"
done

step "the package's dependencies"
# Every Qt QML module that the documents import must come with a dependency.
depends="$(dpkg-deb -f "$deb" Depends)"
while read -r module major; do
  path="$qt_qml/${module//.//}"
  qmldir=""
  for candidate in "$path.$major/qmldir" "$path/qmldir"; do
    if [ -f "$candidate" ]; then
      qmldir="$candidate"
      break
    fi
  done
  [ -n "$qmldir" ] || fail "the QML module $module $major is not installed"
  package="$(dpkg -S "$qmldir" | cut -d: -f1)"
  grep -qE "(^|, )$package( |,|\$)" <<<"$depends" \
    || fail "the documents import $module, from $package, but the package does not depend on it"
done < <(grep -rhoE '^\s*import\s+Qt[A-Za-z.]*\s+[0-9]+' "$root/src/qml" \
  | awk '{ print $2, $3 }' | sort -u)

if [ "$(id -u)" -ne 0 ]; then
  if sudo -n true 2>/dev/null; then
    sudo=(sudo -n)
  elif [ "${CI:-}" = "true" ]; then
    fail "installing the package needs root or password-less sudo"
  else
    echo "check-package: SKIPPED installing, starting and purging the package: needs root or password-less sudo"
    step "passed, without the install part"
    exit 0
  fi
fi
if dpkg-query -W -f='${db:Status-Status}' "$name" 2>/dev/null | grep -qv '^not-installed$'; then
  # A CI machine may keep what an interrupted run installed; a developer's
  # own installation is left to the developer.
  [ "${CI:-}" = "true" ] \
    || fail "$name is already installed here; purge it first (apt-get purge $name), the check installs and purges it"
  step "purging $name, left installed by an earlier run"
  timeout 600 "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq -o Dpkg::Use-Pty=0 \
    -o DPkg::Lock::Timeout=300 "$name" || fail "apt-get purge $name (left by an earlier run) failed"
fi

step "apt-get install $deb"
installed=1
timeout 900 "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o Dpkg::Use-Pty=0 -o DPkg::Lock::Timeout=300 --no-install-recommends "$deb" \
  || fail "apt-get install $deb failed"
[ "$(readlink -f "/usr/lib/$app_id/plugins")" = "$(readlink -f "$qt_plugins")" ] \
  || fail "/usr/lib/$app_id/plugins does not lead to the Qt installation's plug-ins"
[ "$(readlink -f "/usr/lib/$app_id/qml")" = "$(readlink -f "$qt_qml")" ] \
  || fail "/usr/lib/$app_id/qml does not lead to the Qt installation's QML modules"

step "starting /usr/bin/tessaly-config-tool with an emptied environment"
# -noreset: the server would otherwise reset each time the last client (one
# of the checks) disconnects, and the tool, connecting then, fails to start.
timeout 180 "$root/scripts/netns.sh" xvfb-run -a -s "-screen 0 1280x800x24 -noreset" \
  "$root/scripts/check-package.sh" --show-window /usr/bin/tessaly-config-tool \
  || fail "the installed tool did not show its window"

step "running /usr/bin/tessaly-config-cli with an emptied environment"
# No display: the command needs none. With no server in the namespace it
# lists nothing and ends with 0.
env -i HOME="$scratch" /usr/bin/tessaly-config-cli --version | grep -q "^tessaly-config-cli $package_version " \
  || fail "tessaly-config-cli --version does not name the package's version"
listed="$(timeout 60 "$root/scripts/netns.sh" env -i HOME="$scratch" /usr/bin/tessaly-config-cli list --wait 0.5 --json)" \
  || fail "the installed tessaly-config-cli list failed"
grep -q '"servers": 0' <<<"$listed" || fail "the installed tessaly-config-cli listed: $listed"

step "apt-get purge $name"
timeout 600 "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq -o Dpkg::Use-Pty=0 -o DPkg::Lock::Timeout=300 "$name" \
  || fail "apt-get purge $name failed"
installed=0
if dpkg-query -W -f='${db:Status-Status}' "$name" 2>/dev/null | grep -qv '^not-installed$'; then
  fail "dpkg still knows $name after the purge"
fi
left=()
while read -r path; do
  path="${path#.}"
  if [ -e "$path" ] || [ -L "$path" ]; then
    left+=("$path")
  fi
done < <(echo "$expected"; echo "$lib"; echo "./usr/share/doc/$name")
for path in /var/lib/dpkg/info/"$name".*; do
  if [ -e "$path" ]; then
    left+=("$path")
  fi
done
[ "${#left[@]}" -eq 0 ] || fail "left behind after the purge: ${left[*]}"

step "passed"
