#!/bin/sh
# Runs a command in a quiet window on a machine shared with builds and
# scoring runs that hold /tmp/quiet.lock shared (`flock -s /tmp/quiet.lock CMD`):
# new ones wait at once, and the command starts when those already running
# have ended. A plain exclusive flock could wait for ever while shared holders
# overlap one another.
# usage: bench/perf/quiet_window.sh COMMAND [ARG...]
set -eu
lock=/tmp/quiet.lock
touch "$lock"
mv "$lock" "$lock.draining"
touch "$lock"
exec flock -x "$lock" sh -c 'flock -x "$0.draining" true; rm -f "$0.draining"; sleep 5; uptime; "$@"; uptime' "$lock" "$@"
