#!/usr/bin/env bash
# Whole-process speed of `orbdb load` and `orbdb dump` against the sqlite3
# shell on the same rows, best of three runs each:
#   load: orbdb load --index id   vs  sqlite3 .import (tab-separated) + CREATE INDEX
#   dump: orbdb dump              vs  sqlite3 -separator TAB SELECT * (to a file)
# Usage: bench/tool_speed.sh [ORBDB] [ROWS...]   (default build/orbdb, 100000 1000000)
# Prints one line per figure: seconds of each and the ratio orbdb / sqlite3,
# and the peak resident memory of each load.
set -euo pipefail
ORBDB=${1:-build/orbdb}
shift || true
SIZES=("$@")
[ ${#SIZES[@]} -eq 0 ] && SIZES=(100000 1000000)
command -v sqlite3 >/dev/null || { echo "sqlite3 is missing (scripts/install-deps.sh)" >&2; exit 1; }
DIR=$(mktemp -d "${TMPDIR:-/tmp}/tool_speed_XXXXXX")
trap 'rm -rf "$DIR"' EXIT

# Best wall-clock seconds of three runs of "$@" (each after the command in
# $SETUP) in $BEST, the peak resident kilobytes of that run in $PEAK_KB.
best_of_three() {
  local best="" t rss
  for _ in 1 2 3; do
    eval "$SETUP"
    local start end
    start=$(date +%s.%N)
    /usr/bin/time -f %M -o "$DIR/rss" "$@"
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    rss=$(tail -1 "$DIR/rss")
    if [ -z "$best" ] || (( $(echo "$t < $best" | bc -l) )); then best=$t; PEAK_KB=$rss; fi
  done
  BEST=$best
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
  orb_load=$BEST orb_load_kb=$PEAK_KB
  SETUP="rm -f '$DIR/t.db'"
  best_of_three sqlite3 "$DIR/t.db" "CREATE TABLE T(id INTEGER, name VARCHAR(40), amount DOUBLE, day DATE);" \
    ".mode tabs" ".import '$DIR/body.tsv' T" "CREATE INDEX idx_id ON T(id);"
  sql_load=$BEST sql_load_kb=$PEAK_KB
  SETUP=":"
  best_of_three sh -c "'$ORBDB' dump '$DIR/t.orb' T > '$DIR/out.orb.tsv'"
  orb_dump=$BEST
  best_of_three sh -c "sqlite3 -header -separator '	' '$DIR/t.db' 'SELECT * FROM T;' > '$DIR/out.sql.tsv'"
  sql_dump=$BEST
  printf 'rows %d  load: orbdb %.3f s (%d MB)  sqlite3 %.3f s (%d MB)  ratio %.2f\n' "$n" "$orb_load" \
    $((orb_load_kb / 1024)) "$sql_load" $((sql_load_kb / 1024)) "$(echo "$orb_load / $sql_load" | bc -l)"
  printf 'rows %d  dump: orbdb %.3f s  sqlite3 %.3f s  ratio %.2f\n' "$n" "$orb_dump" "$sql_dump" \
    "$(echo "$orb_dump / $sql_dump" | bc -l)"
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
