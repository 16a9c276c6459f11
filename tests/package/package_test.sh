#!/usr/bin/env bash
# The Debian package, built with CPack from this build: its control fields,
# file list and maintainer scripts, lintian, the systemd units and the
# desktop entry; then its programs run from the unpacked tree, with the app
# folder in the tree's var/lib/qzserver (the installed default), through
# create-database, start, a client read and SIGTERM.
#   package_test.sh BUILD_DIR
# Exit 77 (skipped) when CPack or dpkg-deb is missing; a missing lintian,
# desktop-file-validate or systemd-analyze skips only its own check, saying so.
set -euo pipefail
BUILD=$(cd "$1" && pwd)
for tool in cpack dpkg-deb; do
  command -v $tool >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
WORK=$(mktemp -d /tmp/qz-package.XXXXXX)
server=
cleanup() {
  [ -n "$server" ] && kill -9 "$server" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

(cd "$WORK" && cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK/out" >cpack.log 2>&1) ||
  { cat "$WORK/cpack.log"; exit 1; }
DEB=$(ls "$WORK"/out/qzserver_*.deb)
echo "package: $DEB"

# Control fields; the library dependencies come from dpkg-shlibdeps.
depends=$(dpkg-deb -f "$DEB" Depends)
echo "Depends: $depends"
for dep in libc6 libstdc++6 libpq5 libsqlite3-0 adduser debconf; do
  [[ "$depends" == *"$dep"* ]] || fail "Depends lacks $dep"
done
window=no
[ -e "$BUILD/packaging/qzserver.png" ] && window=yes
if [ $window = yes ] && [[ "$depends" != *libqt6widgets6* ]]; then fail "Depends lacks libqt6widgets6"; fi

# File list: every file belongs to root.
dpkg-deb -c "$DEB" >"$WORK/contents"
awk '$2 != "root/root" { print "FAIL: not owned by root: " $0 }' "$WORK/contents" | tee "$WORK/owners"
[ -s "$WORK/owners" ] && failures=$((failures + 1))
expected=(
  ./usr/bin/qzserver ./usr/bin/qzclient
  ./lib/systemd/system/qzserver.service ./lib/systemd/system/qzserver.socket
  ./usr/share/doc/qzserver/copyright ./usr/share/doc/qzserver/changelog.Debian.gz
  ./usr/share/doc/qzserver/README.md ./usr/share/doc/qzserver/install.md
  ./usr/share/doc/qzserver/operations.md
)
[ $window = yes ] && expected+=(./usr/share/applications/qzserver.desktop
                                ./usr/share/icons/hicolor/32x32/apps/qzserver.png)
# Files the build places beside qzserver go to /usr/share/qzserver.
[ -e "$BUILD/server/qz.dat" ] && expected+=(./usr/share/qzserver/qz.dat)
for f in "${expected[@]}"; do
  awk -v f="$f" '$6 == f { found = 1 } END { exit !found }' "$WORK/contents" || fail "missing $f"
done

# Maintainer scripts: present, executable, valid shell.
dpkg-deb -e "$DEB" "$WORK/control"
for s in config postinst prerm postrm; do
  [ -x "$WORK/control/$s" ] || { fail "maintainer script $s missing or not executable"; continue; }
  sh -n "$WORK/control/$s" || fail "maintainer script $s is not valid shell"
done
[ -s "$WORK/control/templates" ] || fail "debconf templates missing"

if command -v lintian >/dev/null; then
  # Errors fail; warnings are printed for the reader.
  lintian --fail-on error "$DEB" || fail "lintian reported errors"
else
  echo "SKIPPED CHECK: lintian is not installed"
fi

dpkg-deb -x "$DEB" "$WORK/root"
if command -v systemd-analyze >/dev/null; then
  # The units as installed, except that the program they start is the
  # unpacked one (verify requires it to exist).
  mkdir "$WORK/units"
  for u in qzserver.socket qzserver.service; do
    sed "s|/usr/bin/qzserver|$WORK/root/usr/bin/qzserver|" "$WORK/root/lib/systemd/system/$u" \
      >"$WORK/units/$u"
  done
  systemd-analyze verify "$WORK/units/qzserver.socket" "$WORK/units/qzserver.service" ||
    fail "systemd-analyze verify"
else
  echo "SKIPPED CHECK: systemd-analyze is not installed"
fi
if [ $window = yes ]; then
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$WORK/root/usr/share/applications/qzserver.desktop" ||
      fail "desktop-file-validate"
  else
    echo "SKIPPED CHECK: desktop-file-validate is not installed"
  fi
fi

# The unpacked programs: without --app-dir they use <root>/var/lib/qzserver.
APP="$WORK/root/var/lib/qzserver"
mkdir -p "$APP"
BIN="$WORK/root/usr/bin"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$BIN/qzserver" -RegServer ||
  fail "-RegServer"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$BIN/qzserver" --create-database --demo \
  >"$WORK/create.log" 2>&1 || { cat "$WORK/create.log"; fail "--create-database"; }
for f in registry.ini system.ini data/qz.db; do
  [ -e "$APP/$f" ] || fail "$f not written into the installed app folder"
done
: >"$WORK/server.log"  # exists before the background job opens it, so the first read finds it
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$BIN/qzserver" --headless \
  --listen 127.0.0.1:0 >"$WORK/server.log" 2>&1 &
server=$!
port=
for _ in $(seq 200); do
  port=$(sed -n 's/.*serving on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$WORK/server.log")
  [ -n "$port" ] && break
  kill -0 $server 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  cat "$WORK/server.log"
  fail "the unpacked qzserver did not start"
else
  answer=$("$BIN/qzclient" --server "127.0.0.1:$port" --class top_dm2 \
    read SqlProvider --sql "select id from users where id='admin'" --format csv 2>&1) || true
  [[ "$answer" == *admin* ]] || fail "client read through the unpacked programs: $answer"
  kill -TERM $server
  status=0
  wait $server || status=$?
  server=
  [ $status -eq 0 ] || { cat "$WORK/server.log"; fail "qzserver ended with status $status on SIGTERM"; }
fi

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "package checks passed"
