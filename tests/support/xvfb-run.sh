#!/usr/bin/env bash
# Runs a command on a private Xvfb display with Mesa's software OpenGL.
# -displayfd lets the server pick a free display, so parallel runs never clash.
# -noreset: a reset when the last client leaves (the probe below) would drop
# or refuse a client that connects meanwhile. Servers that start at the same
# moment can still pick the same display: a server that no client reaches is
# replaced.
set -u
tmp=$(mktemp -d)
# A loaded machine starts the server slowly: wait up to two minutes in all
# (the test's own timeout ends it earlier).
wait_s=120
end=$((SECONDS + wait_s))
problem=""
display=""
for attempt in $(seq 10); do
  : >"$tmp/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$tmp/display" 2>"$tmp/log" &
  xpid=$!
  while [ ! -s "$tmp/display" ] && [ "$SECONDS" -lt "$end" ]; do
    kill -0 "$xpid" 2>/dev/null || break
    sleep 0.05
  done
  if [ -s "$tmp/display" ]; then
    n=$(head -n 1 "$tmp/display")
    if DISPLAY=":$n" xdotool getdisplaygeometry >/dev/null 2>&1; then
      display=":$n"
      break
    fi
    problem="Xvfb reported display :$n, which no client reaches"
  elif kill -0 "$xpid" 2>/dev/null; then
    problem="Xvfb never reported its display in $wait_s s"
  else
    problem="Xvfb ended without reporting its display: $(cat "$tmp/log")"
  fi
  kill "$xpid" 2>/dev/null
  wait "$xpid" 2>/dev/null
  [ "$SECONDS" -lt "$end" ] || break
done
if [ -z "$display" ]; then
  echo "xvfb-run.sh: $problem" >&2
  rm -rf "$tmp"
  exit 1
fi
export DISPLAY="$display"
export LIBGL_ALWAYS_SOFTWARE=1
# Mesa leaks on purpose; leak checks stay on for the core tests.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
"$@"
rc=$?
kill "$xpid" 2>/dev/null
wait "$xpid" 2>/dev/null
rm -rf "$tmp"
exit $rc
