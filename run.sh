#!/usr/bin/env bash
# Installs what is missing, builds Quillax in release mode and starts it.
#   ./run.sh          the program, with your own settings
#   ./run.sh --demo   the program pointed at the local demo library site, with settings,
#                     browser profile and download folder of its own
# QUILLAX_BUILD_DIR chooses another build folder (the tests reuse theirs).
set -euo pipefail
cd "$(dirname "$0")"

demo=0
args=()
for a in "$@"; do
  if [ "$a" = "--demo" ]; then demo=1; else args+=("$a"); fi
done

build="${QUILLAX_BUILD_DIR:-build/release}"
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
./scripts/install-deps.sh
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLAX_BUILD_TESTS=OFF
fi
cmake --build "$build" --parallel --target quillax quillax-demo-site
if [ "$(id -u)" -eq 0 ]; then
  # Chromium refuses to start its sandbox as root.
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi
program="$build/src/quillax"

if [ "$demo" -eq 0 ]; then
  exec "$program" ${args[@]+"${args[@]}"}
fi

# The demo keeps everything under one folder of its own: the user's settings, browser profile
# and download folder are never touched.
demo_dir="${QUILLAX_DEMO_DIR:-$PWD/build/demo}"
mkdir -p "$demo_dir/home" "$demo_dir/log"
site_out="$demo_dir/site.out"
: >"$site_out"

site_pid=""
app_pid=""
cleanup() {
  trap - EXIT INT TERM HUP
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
  if [ -n "$site_pid" ]; then kill "$site_pid" 2>/dev/null || true; fi
  if [ -n "$app_pid" ]; then wait "$app_pid" 2>/dev/null || true; fi
  if [ -n "$site_pid" ]; then wait "$site_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

# The site also ends by itself when this script is gone, even if it was killed outright.
"$build/tools/demo-site/quillax-demo-site" --port 0 --log "$demo_dir/log" \
  --exit-with-pid $$ >"$site_out" 2>&1 &
site_pid=$!
for _ in $(seq 1 100); do
  if grep -q '^login ' "$site_out"; then break; fi
  if ! kill -0 "$site_pid" 2>/dev/null; then
    echo "The demo site did not start:" >&2
    cat "$site_out" >&2
    exit 1
  fi
  sleep 0.1
done
site="$(sed -n 's/^listening \(.*\)$/\1/p' "$site_out" | head -n 1)"
if [ -z "$site" ]; then
  echo "The demo site did not say its address:" >&2
  cat "$site_out" >&2
  exit 1
fi
login_line="$(grep '^login ' "$site_out" | head -n 1)"
account="$(echo "$login_line" | awk '{print $4}')"
password="$(echo "$login_line" | awk '{print $6}')"

# Keep the display's authority file reachable once HOME points into the demo folder.
export XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}"
export HOME="$demo_dir/home"
export XDG_CONFIG_HOME="$demo_dir/home/.config"
export XDG_DATA_HOME="$demo_dir/home/.local/share"
export XDG_CACHE_HOME="$demo_dir/home/.cache"
export QUILLAX_SEARCH_HOME="$site"
# The maker's pages are named by host name, the library by address: pages of the maker's site are
# kept out of the browser's history, the library's are not.
maker="${site/127.0.0.1/localhost}"
export QUILLAX_MAKER_SITE="$maker"
export QUILLAX_MAKER_SECOND_SITE="$maker"
# The download window's login panel starts with the demo's own login page, and a password the
# demo remembers is filed in the keyring apart from the user's own.
export QUILLAX_LOGIN_PAGE="${site}login"
export QUILLAX_KEYRING_SERVICE="Quillax demo"
# The folder the program will really use: the one stored by an earlier demo run, if any.
. "$PWD/tools/demo-site/save-folder.sh"
downloads="$(demo_save_folder "$XDG_CONFIG_HOME/Quillax/Quillax.ini" "$HOME/12345/")"

cat <<EOF
Quillax demo
  demo site:        $site
  login page:       ${site}login   (account: $account, password: $password)
  downloads go to:  $downloads
  settings:         $demo_dir/home/.config/
  request log:      $demo_dir/log/requests.log
EOF

"$program" ${args[@]+"${args[@]}"} &
app_pid=$!
set +e
wait "$app_pid"
status=$?
set -e
app_pid=""
exit "$status"
