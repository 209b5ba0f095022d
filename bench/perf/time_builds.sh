#!/bin/sh
# Times two builds of the tool on the same images, interleaved so that both
# see the same machine load: wall and CPU seconds per image for each.
# usage: bench/perf/time_builds.sh BEFORE_BINARY AFTER_BINARY IMAGE...
set -eu
[ -x /usr/bin/time ] || apt-get install -y --no-install-recommends time >/dev/null
before=$1
after=$2
shift 2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for image in "$@"; do
  for build in before after; do
    eval binary=\$$build
    /usr/bin/time -f "$build %e %U %S" -a -o "$out/times" "$binary" "$image" "$out/out.json" 2>/dev/null || true
  done
done
awk '{ n[$1]++; wall[$1] += $2; cpu[$1] += $3 + $4 }
     END { for (b in n) printf "%-6s images %d  wall %.3f s/image  cpu %.3f s/image\n", b, n[b], wall[b] / n[b], cpu[b] / n[b] }' \
  "$out/times" | sort -r
