#!/usr/bin/env bash
# Checks `./run.sh --demo` from outside: it starts the demo site and the program, the site
# answers at the address it printed first, and nothing is left running once the program ends,
# whether the script is stopped or the program is killed.
set -euo pipefail
build="$1"
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Starts the demo; sets demo_pid, site_url, site_pid and app_pid.
start_demo() {
  local out="$work/out.$1"
  QUILLAX_BUILD_DIR="$build" QUILLAX_DEMO_DIR="$work/demo.$1" \
    setsid "$root/run.sh" --demo >"$out" 2>&1 </dev/null &
  demo_pid=$!
  for _ in $(seq 1 600); do
    if grep -q 'request log:' "$out"; then break; fi
    sleep 0.1
  done
  site_url="$(sed -n 's/^  demo site: *\(.*\)$/\1/p' "$out")"
  [ -n "$site_url" ] || { cat "$out"; fail "no site address printed"; return 1; }
  site_pid="$(pgrep -f -n "quillax-demo-site --port 0 --log $work/demo.$1/log" || true)"
  app_pid=""
  for _ in $(seq 1 100); do
    app_pid="$(pgrep -P "$demo_pid" -x quillax || true)"
    [ -n "$app_pid" ] && break
    sleep 0.1
  done
  [ -n "$site_pid" ] || fail "no site process"
  [ -n "$app_pid" ] || fail "no program process"
}

gone_within() { # pid seconds
  for _ in $(seq 1 $(($2 * 10))); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

# 1. Stopping the script ends the program and the site.
start_demo term
first_line="$(head -n 1 "$work/demo.term/site.out")"
case "$first_line" in
  "listening http://127.0.0.1:"*/) ;;
  *) fail "the site's first line is not its address: $first_line" ;;
esac
home="$(curl -s --max-time 10 "$site_url")"
echo "$home" | grep -q '基本检索' || fail "home page not served"
notice="$(curl -s -o /dev/null -w '%{http_code}' --max-time 10 "${site_url}Quillax/newver.txt")"
[ "$notice" = 404 ] || fail "the demo announces an update nobody asked for ($notice)"
grep -q "downloads go to:  $work/demo.term/home/12345/" "$work/out.term" ||
  fail "the terminal does not name the download folder in use"
printf '[%%U8BBE%%U7F6E]\n%%U4E0B%%U8F7D%%U6587%%U4EF6%%U4FDD%%U5B58%%U8DEF%%U5F84=/srv/papers/\n' \
  >"$work/stored.ini"
[ "$(bash -c ". '$root/tools/demo-site/save-folder.sh'; demo_save_folder '$work/stored.ini' /x/")" = /srv/papers/ ] ||
  fail "a stored download folder is not the one named"
# The demo's passwords are filed in the keyring apart from the user's own.
keyring_name="$( (tr '\0' '\n' <"/proc/$app_pid/environ") 2>/dev/null |
  sed -n 's/^QUILLAX_KEYRING_SERVICE=//p' || true)"
case "$keyring_name" in
  "" | Quillax) fail "the demo files its passwords under the user's keyring name" ;;
esac
kill -TERM "$demo_pid"
wait "$demo_pid" 2>/dev/null || true
gone_within "$site_pid" 5 || fail "site left running after the script was stopped"
gone_within "$app_pid" 10 || fail "program left running after the script was stopped"

# 2. A program that dies takes the site with it.
start_demo kill
kill -KILL "$app_pid"
wait "$demo_pid" 2>/dev/null || true
gone_within "$site_pid" 5 || fail "site left running after the program was killed"

# 3. A script killed outright: the site notices and ends by itself.
start_demo orphan
kill -KILL "$demo_pid"
gone_within "$site_pid" 5 || fail "site left running after the script was killed"
kill -KILL "$app_pid" 2>/dev/null || true

if [ "$failures" -eq 0 ]; then
  echo "1 passed, 0 failed"
  exit 0
fi
echo "0 passed, 1 failed"
exit 1
