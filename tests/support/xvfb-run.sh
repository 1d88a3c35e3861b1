#!/usr/bin/env bash
# Runs a command on a private Xvfb display with Mesa's software OpenGL.
# -displayfd lets the server pick a free display, so parallel runs never clash.
set -u
tmp=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/log" &
xpid=$!
for _ in $(seq 200); do
  [ -s "$tmp/display" ] && break
  kill -0 "$xpid" 2>/dev/null || break
  sleep 0.05
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
