#!/usr/bin/env bash
# Pictures of irdload.exe under wine, as an operator sees them: the dialog idle, mid-download to
# the Virtual IRD, the About box, and the question on ending mid-download, in English and (with
# the user's language Russian) in Russian. Run by ./run screenshot.
# usage: screenshots.sh WINDOWS_BUILD OUT_FOLDER
set -euo pipefail
build=$(realpath "$1")
out=$(realpath -m "$2")
mkdir -p "$out"
work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  WINEPREFIX="$work/prefix" wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

n=70
while [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ]; do n=$((n + 1)); done
Xvfb :$n -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
export DISPLAY=:$n WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i </dev/null >/dev/null 2>&1
wineserver -k >/dev/null 2>&1 || true
# One virtual desktop, which draws the windows' frames as Windows does; set while no desktop runs.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 800x600 /f >/dev/null 2>&1
wineserver -w >/dev/null 2>&1 || true
"$build/../../default/cli/irdload-cli" make-sample --size 400000 "$work/sample.uuc" >/dev/null 2>&1 ||
  wine "$build/cli/irdload-cli.exe" make-sample --size 400000 "Z:$work/sample.uuc" >/dev/null

for language in en ru; do
  locale=C.UTF-8
  [ "$language" = ru ] && locale=ru_RU.UTF-8
  LANG=$locale LC_ALL=$locale wine "$build/win/irdload.exe" </dev/null >/dev/null 2>&1 &
  dialog=$!
  coproc DRIVER { LANG=$locale LC_ALL=$locale wine "$build/tests/windows/irdload-dialog-driver.exe" pictures "Z:${work//\//\\}\\sample.uuc" 2>&1; }
  while read -r line <&"${DRIVER[0]}"; do
    case "$line" in
      pose\ *)
        read -r _ name x y w h <<<"$line"
        import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/win-$name-$language.png"
        echo taken >&"${DRIVER[1]}" ;;
      FAIL:*|PASS|FAILED) echo "$line" ;;
    esac
  done
  for _ in $(seq 100); do kill -0 "$dialog" 2>/dev/null || break; sleep 0.2; done
  wineserver -k >/dev/null 2>&1 || true
done
ls -l "$out"/win-*
