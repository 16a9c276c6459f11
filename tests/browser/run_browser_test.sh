#!/usr/bin/env bash
# The web page in a real browser: starts qzserver on a fresh demo database
# with the web transport and drives the page with puppeteer-core in
# Debian's chromium. Exits 77 (skipped) where chromium, node or the npm
# packages are not installed. Usage: run_browser_test.sh BUILD_DIR [SCREENSHOT_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
shots="${2:-}"
skip() { echo "SKIPPED: $*"; exit 77; }

chromium=$(command -v chromium || true)
[ -n "$chromium" ] || skip "no chromium (install Debian's chromium package: bash scripts/setup)"
command -v node >/dev/null || skip "no node"
# Installed by scripts/setup from package-lock.json; nothing is fetched here.
[ -d "$here/node_modules/puppeteer-core" ] ||
  skip "no puppeteer-core in tests/browser/node_modules (bash scripts/setup installs it)"

work=$(mktemp -d)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$build/server/qzserver" --app-dir "$work" --create-database --demo >/dev/null
# The log exists before the server starts: the background job opens it only
# once it runs, and the loop below may read it first.
: >"$work/server.log"
"$build/server/qzserver" --app-dir "$work" --headless --listen 127.0.0.1:0 \
  --listen-web 127.0.0.1:0 2>"$work/server.log" >/dev/null &
server_pid=$!
port=""
for _ in $(seq 1 300); do
  port=$(sed -n 's/.*web page and WebSocket at .*(port \([0-9]*\).*/\1/p' "$work/server.log" | head -1)
  [ -n "$port" ] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.log"; echo "qzserver ended"; exit 1; }
  sleep 0.1
done
[ -n "$port" ] || { cat "$work/server.log"; echo "no web port in the server log"; exit 1; }

node "$here/page_test.mjs" "http://127.0.0.1:$port/" "$chromium" $shots
