#!/usr/bin/env bash
# Whole-process speed of `orbdb load` and `orbdb dump` against the sqlite3
# shell on the same rows, best of three runs each:
#   load: orbdb load --index id   vs  sqlite3 .import (tab-separated) + CREATE INDEX
#   dump: orbdb dump              vs  sqlite3 -separator TAB SELECT * (to a file)
# Usage: bench/tool_speed.sh [ORBDB] [ROWS...]   (default build/orbdb, 100000 1000000)
# Prints one line per figure: wall-clock and CPU seconds of each, the ratios
# orbdb / sqlite3, and the peak resident memory of each load.
set -euo pipefail
ORBDB=${1:-build/orbdb}
shift || true
SIZES=("$@")
[ ${#SIZES[@]} -eq 0 ] && SIZES=(100000 1000000)
command -v sqlite3 >/dev/null || { echo "sqlite3 is missing (scripts/install-deps.sh)" >&2; exit 1; }
DIR=$(mktemp -d "${TMPDIR:-/tmp}/tool_speed_XXXXXX")
trap 'rm -rf "$DIR"' EXIT

# Best of three runs of "$@" (each after the command in $SETUP): wall-clock
# seconds in $BEST, CPU seconds (user + system, children included) in
# $BEST_CPU, the peak resident kilobytes of the fastest run in $PEAK_KB. On
# a machine shared with other work, compare the CPU figures.
best_of_three() {
  local best="" best_cpu="" wall cpu
  for _ in 1 2 3; do
    eval "$SETUP"
    /usr/bin/time -f "%e %U %S %M" -o "$DIR/time" "$@"
    read -r wall user sys rss < <(tail -1 "$DIR/time")
    cpu=$(echo "$user + $sys" | bc -l)
    if [ -z "$best" ] || (( $(echo "$wall < $best" | bc -l) )); then best=$wall; PEAK_KB=$rss; fi
    if [ -z "$best_cpu" ] || (( $(echo "$cpu < $best_cpu" | bc -l) )); then best_cpu=$cpu; fi
  done
  BEST=$best
  BEST_CPU=$best_cpu
}

for n in "${SIZES[@]}"; do
  python3 - "$n" "$DIR/rows.tsv" "$DIR/body.tsv" <<'PY'
import sys, random
n = int(sys.argv[1]); random.seed(7)
with open(sys.argv[2], "w") as full, open(sys.argv[3], "w") as body:
    full.write("id\tname\tamount\tday\n")
    for i in range(n):
        line = "%d\tname %d %s\t%.2f\t%04d-%02d-%02d\n" % (
            random.randrange(1 << 30), i, "x" * random.randrange(0, 20), random.uniform(-1e6, 1e6),
            random.randrange(1900, 2100), random.randrange(1, 13), random.randrange(1, 29))
        full.write(line); body.write(line)
PY
  SETUP="rm -f '$DIR/t.orb'; '$ORBDB' create '$DIR/t.orb'"
  best_of_three sh -c "'$ORBDB' load '$DIR/t.orb' T --fields 'id INTEGER, name VARCHAR(40), amount DOUBLE, day DATE' --index id < '$DIR/rows.tsv'"
  orb_load=$BEST orb_load_cpu=$BEST_CPU orb_load_kb=$PEAK_KB
  SETUP="rm -f '$DIR/t.db'"
  best_of_three sqlite3 "$DIR/t.db" "CREATE TABLE T(id INTEGER, name VARCHAR(40), amount DOUBLE, day DATE);" \
    ".mode tabs" ".import '$DIR/body.tsv' T" "CREATE INDEX idx_id ON T(id);"
  sql_load=$BEST sql_load_cpu=$BEST_CPU sql_load_kb=$PEAK_KB
  SETUP=":"
  best_of_three sh -c "'$ORBDB' dump '$DIR/t.orb' T > '$DIR/out.orb.tsv'"
  orb_dump=$BEST orb_dump_cpu=$BEST_CPU
  best_of_three sh -c "sqlite3 -header -separator '	' '$DIR/t.db' 'SELECT * FROM T;' > '$DIR/out.sql.tsv'"
  sql_dump=$BEST sql_dump_cpu=$BEST_CPU
  ratio() { echo "$1 / $2" | bc -l; }
  printf 'rows %d  load: wall orbdb %.2f s, sqlite3 %.2f s, ratio %.2f; cpu orbdb %.2f s, sqlite3 %.2f s, ratio %.2f; peak %d MB vs %d MB\n' \
    "$n" "$orb_load" "$sql_load" "$(ratio "$orb_load" "$sql_load")" "$orb_load_cpu" "$sql_load_cpu" \
    "$(ratio "$orb_load_cpu" "$sql_load_cpu")" $((orb_load_kb / 1024)) $((sql_load_kb / 1024))
  printf 'rows %d  dump: wall orbdb %.2f s, sqlite3 %.2f s, ratio %.2f; cpu orbdb %.2f s, sqlite3 %.2f s, ratio %.2f\n' \
    "$n" "$orb_dump" "$sql_dump" "$(ratio "$orb_dump" "$sql_dump")" "$orb_dump_cpu" "$sql_dump_cpu" \
    "$(ratio "$orb_dump_cpu" "$sql_dump_cpu")"
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
