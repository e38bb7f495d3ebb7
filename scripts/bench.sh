#!/usr/bin/env bash
# Runs the download benchmarks against curl on a web server of its own on
# 127.0.0.1 and prints the table; the last line is the median throughput
# ratio of one download into a file.
#   scripts/bench.sh            sizes that take about a minute
#   scripts/bench.sh --large    larger files and more pairs
#   scripts/bench.sh --smoke    tiny files, one pair: checks that it all runs
set -euo pipefail
cd "$(dirname "$0")/.."
root_dir=$(pwd)

one_mib=256 each_mib=32 big_mib=1024 pairs=5 small=300
case "${1:-}" in
  --large) one_mib=1024 each_mib=128 big_mib=4096 pairs=9 small=2000 ;;
  --smoke) one_mib=4 each_mib=1 big_mib=8 pairs=1 small=20 ;;
  "") ;;
  *) echo "usage: $0 [--large|--smoke]" >&2; exit 2 ;;
esac

scripts/setup.sh >&2
build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVUPDATE_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --target qvbench qvwsock32 >&2

scratch=$(mktemp -d /tmp/qvbench-XXXXXX)
chmod 755 "$scratch"
nginx_pid=""
cleanup() {
  [[ -n $nginx_pid ]] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

mkdir -p "$scratch/www" "$scratch/tmp" "$scratch/work"
head -c $((one_mib << 20)) /dev/urandom >"$scratch/www/one.bin"
for i in 0 1 2 3 4 5 6 7 8 9; do
  head -c $((each_mib << 20)) /dev/urandom >"$scratch/www/f$i.bin"
done
head -c $((big_mib << 20)) /dev/zero >"$scratch/www/big.bin"
{
  echo "1.15"
  for i in $(seq 1 20); do echo "Release note line $i: what changed in this release and why it matters."; done
  echo "[FILESLIST]"
  for i in $(seq 1 30); do echo "component$i.dll=plugins\\"; done
} | sed 's/$/\r/' >"$scratch/www/update.ini"
truncate -s 2048 "$scratch/www/update.ini"
# one.bin is also fetched signed, as the updater with a key fetches it.
minisign -G -W -p "$scratch/bench.pub" -s "$scratch/bench.key" >/dev/null </dev/null
minisign -S -q -s "$scratch/bench.key" -m "$scratch/www/one.bin" -t "file:one.bin version:bench" </dev/null
key=$(sed -n 2p "$scratch/bench.pub")

port=$("$build/bin/qvbench" freeport)
cat >"$scratch/nginx.conf" <<CONF
daemon off;
worker_processes 1;
error_log $scratch/nginx.log;
pid $scratch/nginx.pid;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $scratch/tmp;
  proxy_temp_path $scratch/tmp;
  fastcgi_temp_path $scratch/tmp;
  uwsgi_temp_path $scratch/tmp;
  scgi_temp_path $scratch/tmp;
  server { listen 127.0.0.1:$port; root $scratch/www; }
}
CONF
/usr/sbin/nginx -c "$scratch/nginx.conf" -p "$scratch" &
nginx_pid=$!
for _ in $(seq 1 100); do
  curl -s -o /dev/null "http://127.0.0.1:$port/update.ini" && break
  sleep 0.1
done

"$build/bin/qvbench" run --port "$port" --root "$scratch/www" --work "$scratch/work" \
  --pairs "$pairs" --small "$small" --key "$key"
