#!/usr/bin/env bash
# Runs one command on a private virtual X display with a window manager, as an operator's
# screen would be: real focus, real key and mouse events through the X server, a screen edge.
#
#   scripts/xsession.sh [--size WxH] [--] COMMAND [ARGS...]
#
# The command sees DISPLAY (a free display number), QT_QPA_PLATFORM=xcb and a private TMPDIR,
# so a station it starts has its own single-instance block and socket and never meets a
# station already running on this machine. The display, the window manager and the folder are
# removed when the command ends; its exit code is returned.
set -euo pipefail

size="1366x768"
while [[ $# -gt 0 ]]; do
  case "$1" in
    --size) size="$2"; shift 2 ;;
    --size=*) size="${1#--size=}"; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
if [[ $# -eq 0 ]]; then
  echo "usage: $0 [--size WxH] [--] COMMAND [ARGS...]" >&2
  exit 2
fi
if [[ ! "$size" =~ ^[0-9]+x[0-9]+$ ]]; then
  echo "xsession: the size must read WIDTHxHEIGHT, not \"$size\"" >&2
  exit 2
fi
for tool in Xvfb openbox xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "xsession: $tool is missing (scripts/install-deps.sh installs it)" >&2
    exit 2
  fi
done

private="$(mktemp -d)"
xvfb_pid=""
wm_pid=""
cleanup() {
  [[ -n "$wm_pid" ]] && kill "$wm_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$private"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number on the descriptor we hand it.
exec {fdnum}<> <(:)
Xvfb -displayfd "$fdnum" -screen 0 "${size}x24" -nolisten tcp -noreset >"$private/xvfb.log" 2>&1 &
xvfb_pid=$!
display=""
# A busy machine can take many seconds to bring the server up.
for _ in $(seq 1 600); do
  if read -r -t 0.1 display <&"$fdnum" && [[ -n "$display" ]]; then break; fi
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then break; fi
done
exec {fdnum}<&-
if [[ -z "$display" ]]; then
  echo "xsession: the virtual display did not start:" >&2
  cat "$private/xvfb.log" >&2
  exit 2
fi
export DISPLAY=":$display"

mkdir -p "$private/home/.config" "$private/tmp"
HOME="$private/home" XDG_CONFIG_HOME="$private/home/.config" openbox >"$private/wm.log" 2>&1 &
wm_pid=$!
# The window manager is ready once it owns the screen's selection for it.
for _ in $(seq 1 600); do
  if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then break; fi
  sleep 0.05
done

export QT_QPA_PLATFORM=xcb
export TMPDIR="$private/tmp"
set +e
"$@"
rc=$?
set -e
exit "$rc"
