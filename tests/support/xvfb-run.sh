#!/usr/bin/env bash
# Runs a command on a private Xvfb display with Mesa's software OpenGL.
# -displayfd lets the server pick a free display, so parallel runs never clash.
set -u
tmp=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/log" &
xpid=$!
# A loaded machine starts the server slowly: wait up to two minutes (the
# test's own timeout ends it earlier).
wait_s=120
end=$((SECONDS + wait_s))
while [ ! -s "$tmp/display" ] && [ "$SECONDS" -lt "$end" ]; do
  kill -0 "$xpid" 2>/dev/null || break
  sleep 0.05
done
if [ ! -s "$tmp/display" ]; then
  if kill -0 "$xpid" 2>/dev/null; then
    echo "xvfb-run.sh: Xvfb never reported its display in $wait_s s" >&2
    kill "$xpid" 2>/dev/null
  else
    echo "xvfb-run.sh: Xvfb ended without reporting its display" >&2
  fi
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
