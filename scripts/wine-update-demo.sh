#!/usr/bin/env bash
# The Windows updater end to end under Wine: the demo installation named by
# the registry (Wine's reg), the signed demo release served by nginx on a
# loopback port chosen now, qvupdate-hosts.exe driven through its window by
# qvdialog-driver.exe, the installed files compared byte for byte, and
# screenshots of the English and the Chinese window kept in the build folder.
# Run by scripts/test-windows.sh in its Wine prefix and display:
#   scripts/wine-update-demo.sh <build folder>
# Closes with "N passed, N failed"; exits non-zero on a failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
wine=/usr/lib/wine/wine64
demo=$build/wine-demo
logs=$build/wine-logs
rm -rf "$demo"
mkdir -p "$demo/nginx/tmp" "$logs"

cp -R "$root/demo/installation" "$demo/installation"
for channel in eng chs; do
  mkdir -p "$demo/www/update/$channel"
  cp "$root/demo/server/release/"* "$root/demo/server/$channel/update.ini" "$demo/www/update/$channel/"
  QVUPDATE_SIGNING_KEY=$root/demo/signing/demo-only.key \
    "$root/scripts/sign-release.sh" "$demo/www/update/$channel" 1.15 >/dev/null
done
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sed -e "s|@DEMO_DIR@|$demo|g" -e "s|@PORT@|$port|g" "$root/demo/server/nginx.conf.in" >"$demo/nginx/nginx.conf"
nginx=$(command -v nginx || echo /usr/sbin/nginx)
"$nginx" -p "$demo/nginx/" -c "$demo/nginx/nginx.conf" -e "$demo/nginx/error.log" 2>>"$demo/nginx/error.log" &
nginx_pid=$!
updater_pid=
cleanup() {
  [[ -z $updater_pid ]] || kill "$updater_pid" 2>/dev/null || true
  kill "$nginx_pid" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

# The installation as the installer registers it; Wine draws the window's
# frame itself, so that the screenshots show it without a window manager.
"$wine" reg add 'HKLM\Software\Quorvan' /v 'Install Dir' /t REG_SZ /d "Z:${demo//\//\\}\\installation" /f >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
# A fresh prefix has no Chinese face behind the dialog's font: link Debian's,
# as Windows links its own.
for face in 'MS Sans Serif' Tahoma; do
  "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$face" \
    /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1
done

key=$(sed -n 2p "$root/demo/signing/demo-only.pub")
"$wine" "$build/bin/qvupdate-hosts.exe" --host1 "127.0.0.1:$port" --host2 "localhost:$port" --update-key "$key" \
  >"$logs/qvupdate-hosts.log" 2>&1 &
updater_pid=$!

passed=0
failed=0
verdict() {  # verdict NAME COMMAND...: one case
  if "${@:2}"; then
    passed=$((passed + 1))
    echo "ok   $1"
  else
    failed=$((failed + 1))
    echo "FAIL $1"
  fi
}
step() {  # step NAME: the driver's test Demo.NAME
  "$wine" "$build/bin/qvdialog-driver.exe" --gtest_color=no --gtest_filter="Demo.$1" 2>&1 | tr -d '\r' >"$logs/demo-$1.log"
  grep -qE '^\[       OK \] ' "$logs/demo-$1.log"
}
screenshot() { import -window root "$1"; }
installed_like_release() {
  local file
  for file in Quorvan.exe QVHelp.txt Whatsnew.txt; do
    cmp -s "$root/demo/server/release/$file" "$demo/installation/$file" || return 1
  done
  cmp -s "$root/demo/server/release/Chinese.lng" "$demo/installation/Language/Chinese.lng"
}
updater_ended() { timeout 30 tail --pid="$updater_pid" -f /dev/null; }

verdict "the window at its places" step ShowsTheWindowAtItsPlaces
verdict "the check finds release 1.15" step ChecksTheRelease
verdict "English screenshot" screenshot "$build/qvupdate-english.png"
verdict "the update runs to its end" step UpdatesTheFiles
verdict "installed files equal the release's" installed_like_release
verdict "Chinese captions" step SwitchesToChinese
verdict "Chinese screenshot" screenshot "$build/qvupdate-chinese.png"
verdict "Exit ends the program" step ExitEndsTheProgram
verdict "the program has ended" updater_ended

echo "$passed passed, $failed failed"
((failed == 0))
