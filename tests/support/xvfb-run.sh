#!/usr/bin/env bash
# Runs a command on a private Xvfb display with Mesa's software OpenGL.
# -displayfd lets the server pick a free display, so parallel runs never clash.
# -noreset: a reset when the last client (the probe) leaves would drop one
# connecting meanwhile. Servers started together can pick one display: one
# no client reaches is replaced. Two minutes at most on a loaded machine.
set -u
tmp=$(mktemp -d)
end=$((SECONDS + 120))
for _ in $(seq 10); do
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$tmp/display" 2>"$tmp/log" &
  xpid=$!
  while [ ! -s "$tmp/display" ] && [ "$SECONDS" -lt "$end" ] && kill -0 "$xpid" 2>/dev/null; do
    sleep 0.05
  done
  [ -s "$tmp/display" ] && DISPLAY=":$(head -n 1 "$tmp/display")" xdotool getdisplaygeometry \
    >/dev/null 2>&1 && break
  kill "$xpid" 2>/dev/null
  wait "$xpid" 2>/dev/null
  : >"$tmp/display"
  [ "$SECONDS" -lt "$end" ] || break
done
if [ ! -s "$tmp/display" ]; then
  echo "xvfb-run.sh: Xvfb did not start" >&2
  cat "$tmp/log" >&2
  rm -rf "$tmp"
  exit 1
fi
export DISPLAY=":$(head -n 1 "$tmp/display")"
export LIBGL_ALWAYS_SOFTWARE=1
# Mesa leaks on purpose; leak checks stay on for the core tests.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
"$@"
rc=$?
kill "$xpid" 2>/dev/null
wait "$xpid" 2>/dev/null
rm -rf "$tmp"
exit $rc
