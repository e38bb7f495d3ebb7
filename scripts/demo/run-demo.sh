#!/usr/bin/env bash
# Runs the updater against the bundled demo: a fresh copy of the demo
# installation, a registry file naming it, and the demo's update server
# (nginx, as the calling user) on loopback. Everything it writes is in
# <build folder>/demo.
#
#   scripts/demo/run-demo.sh <build folder> [--headless] [qvupdate-demo options]
#
# With a display the window opens. Without one, or with --headless, the
# headless driver checks, updates, prints the log and the statuses, and
# writes <build folder>/demo/qvupdate-demo.png.
# The port comes from the build's QVUPDATE_SERVER1 (127.0.0.1:<port>);
# QVUPDATE_DEMO_PORT serves on another one instead (headless only), and
# QVUPDATE_DEMO_DIR puts the demo's files elsewhere (tests run several).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
[[ $# -ge 1 && -d $1 ]] || { echo "usage: $0 <build folder> [--headless] [qvupdate-demo options]" >&2; exit 2; }
build=$(cd "$1" && pwd)
shift
headless=0
if [[ ${1:-} == --headless ]]; then
  headless=1
  shift
fi
[[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]] || headless=1

hosts=()
if [[ -n ${QVUPDATE_DEMO_PORT:-} ]]; then
  ((headless)) || { echo "QVUPDATE_DEMO_PORT works with --headless only: the window uses the build's servers" >&2; exit 2; }
  port=$QVUPDATE_DEMO_PORT
  hosts=(--host1 "127.0.0.1:$port" --host2 "localhost:$port")
else
  server1=$(sed -n 's/^QVUPDATE_SERVER1:STRING=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
  if [[ ! $server1 =~ ^127\.0\.0\.1:([0-9]+)$ ]]; then
    echo "The update servers of $build are '$server1', not the demo's: build with the preset demo (cmake --preset demo)." >&2
    exit 2
  fi
  port=${BASH_REMATCH[1]}
fi

program=$build/bin/qvupdate
((headless)) && program=$build/bin/qvupdate-demo
[[ -x $program ]] || { echo "$program is not built: scripts/build.sh demo qvupdate qvupdate-demo" >&2; exit 2; }

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
if port_open "$port"; then
  echo "Port $port on 127.0.0.1 is in use, and the demo's update server needs it." >&2
  echo "Stop what listens there (see: ss -ltnp 'sport = :$port') and run again." >&2
  exit 1
fi

nginx=$(command -v nginx || true)
[[ -n $nginx ]] || nginx=/usr/sbin/nginx
[[ -x $nginx ]] || { echo "nginx is not installed: run scripts/setup.sh" >&2; exit 1; }

demo=$(realpath -m "${QVUPDATE_DEMO_DIR:-$build/demo}")
# nginx's configuration takes the paths unquoted.
[[ $demo =~ ^[A-Za-z0-9/._+-]+$ ]] || { echo "The demo cannot run from a path with blanks or special characters: $demo" >&2; exit 1; }

# A fresh installation at every run, so that updates can be repeated; a
# folder that is not an earlier demo's is left alone.
if [[ -e $demo ]]; then
  if [[ -n $(ls -A "$demo") && ! -f $demo/registry.reg ]]; then
    echo "$demo exists and is not the demo's folder: not touching it." >&2
    exit 1
  fi
  rm -rf "$demo"
fi
mkdir -p "$demo/nginx/tmp"
cp -R "$root/demo/installation" "$demo/installation"
# Signed as a publisher signs, with the demo's own key.
for channel in eng chs; do
  mkdir -p "$demo/www/update/$channel"
  cp "$root/demo/server/release/"* "$root/demo/server/$channel/update.ini" "$demo/www/update/$channel/"
  version=$(head -n 1 "$demo/www/update/$channel/update.ini" | tr -d '\r')
  QVUPDATE_SIGNING_KEY=$root/demo/signing/demo-only.key \
    "$root/scripts/sign-release.sh" "$demo/www/update/$channel" "$version" >/dev/null
done
sed -e "s|@DEMO_DIR@|$demo|g" -e "s|@PORT@|$port|g" "$root/demo/server/nginx.conf.in" >"$demo/nginx/nginx.conf"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Quorvan]\n"Install Dir"="%s"\n' \
  "$demo/installation" >"$demo/registry.reg"

"$nginx" -p "$demo/nginx/" -c "$demo/nginx/nginx.conf" -e "$demo/nginx/error.log" >>"$demo/nginx/error.log" 2>&1 &
nginx_pid=$!
program_pid=
stop_server() {
  [[ -z $program_pid ]] || kill "$program_pid" 2>/dev/null || true
  kill "$nginx_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap stop_server EXIT
trap 'exit 130' INT TERM

for _ in $(seq 100); do
  port_open "$port" && break
  if ! kill -0 "$nginx_pid" 2>/dev/null; then
    echo "The demo's update server did not start:" >&2
    cat "$demo/nginx/error.log" >&2 || true
    exit 1
  fi
  sleep 0.1
done
port_open "$port" || { echo "The demo's update server does not answer on 127.0.0.1:$port" >&2; exit 1; }

echo "Demo update server: http://127.0.0.1:$port/update/ (files in $demo/www)"
echo "Demo installation:  $demo/installation (registry file $demo/registry.reg)"
export QVUPDATE_REGISTRY=$demo/registry.reg
# In the background, so that a signal to this script ends it and the server.
if ((headless)); then
  echo "Running the window offscreen (qvupdate-demo)."
  "$program" "${hosts[@]}" --screenshot "$demo/qvupdate-demo.png" "$@" &
else
  (($# == 0)) || echo "With a display the window opens; the options $* are for --headless." >&2
  echo "Press \"Check\", then \"Online Update\"; \"Exit\" ends the demo."
  "$program" &
fi
program_pid=$!
status=0
wait "$program_pid" || status=$?
program_pid=
exit "$status"
