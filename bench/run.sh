#!/usr/bin/env bash
# Whole-run benchmark. Builds headlink as a packager does (Release), makes
# two generated kits (realistic: appearance 700 x 95, heads 120 x 14,
# portraits 320 x 12; largest: 65,000 rows each, appearance 100 columns,
# pools of 15,000 strings), and on each runs, alternating, BENCH_RUNS times
# (default 9):
#   headlink        the whole job, writing the three outputs;
#   copy            cp of the three input tables;
#   durable copy    each table written to a temporary and fsync'ed, then
#                   each renamed, then the folder fsync'ed: what headlink
#                   must do at the least.
# It prints the median wall time of each, the ratios, headlink's CPU time
# (user + system) and peak memory against the kit's size, and then the
# in-memory benchmarks of bench/bench_table.cpp.
#   BENCH_RUNS=1 BENCH_QUICK=1 bash bench/run.sh   (one pass, benchmarks once: for CI)
#   BENCH_HEADLINK=/path/to/headlink bash bench/run.sh   (time another build)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${BENCH_RUNS:-9}
build=${BENCH_BUILD:-build-bench}
jobs=$(nproc 2>/dev/null || echo 2)

[ -x /usr/bin/time ] || { echo "bench: needs GNU time (/usr/bin/time, Debian package time)" >&2; exit 1; }
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DHEADLINK_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target headlink make_kit headlink_bench >/dev/null
# BENCH_HEADLINK=PATH times another headlink (an older build, say) on the same kits.
exe=${BENCH_HEADLINK:-$PWD/$build/app/headlink}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tables="appearance heads portraits"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# Microseconds since some start, from bash's clock.
now() { local t=${EPOCHREALTIME/[.,]/}; echo "$t"; }

run_headlink() { (cd "$1" && "$exe" -q); }
plain_copy() { for t in $tables; do cp "$1/$t.2da" "$1/$t.copy"; done; }
durable_copy() {
  for t in $tables; do dd if="$1/$t.2da" of="$1/.$t.tmp" bs=1M conv=fsync status=none; done
  for t in $tables; do mv "$1/.$t.tmp" "$1/$t.copy"; done
  sync "$1"  # the folder: its renames are then on disk too
}
clean() { rm -f "$1"/*_updated.2da "$1"/*.copy; }

for kind in realistic largest; do
  dir="$work/$kind"
  mkdir -p "$dir"
  "$build/bench/make_kit" "$kind" "$dir"
  size=$(cat "$dir"/*.2da | wc -c)
  : >"$work/h" ; : >"$work/c" ; : >"$work/d" ; : >"$work/cpu" ; : >"$work/rss"
  for ((i = 0; i < runs; i++)); do
    for what in h c d; do
      clean "$dir"
      sync
      start=$(now)
      case $what in
        h) run_headlink "$dir" ;;
        c) plain_copy "$dir" ;;
        d) durable_copy "$dir" ;;
      esac
      echo $(($(now) - start)) >>"$work/$what"
    done
    # CPU time (user + system, from bash's account of the child, to the
    # millisecond: GNU time rounds to 10 ms) and peak memory (GNU time's
    # maximum resident set size), each measured apart from the timed runs.
    clean "$dir"
    (cd "$dir" && TIMEFORMAT='%3U %3S' && { time "$exe" -q; } 2>"$work/one")
    awk '{ print ($1 + $2) * 1000 }' "$work/one" >>"$work/cpu"
    clean "$dir"
    (cd "$dir" && /usr/bin/time -f "%M" -o "$work/one" "$exe" -q)
    cat "$work/one" >>"$work/rss"
  done
  h=$(median <"$work/h"); c=$(median <"$work/c"); d=$(median <"$work/d")
  cpu=$(median <"$work/cpu"); rss=$(median <"$work/rss")
  awk -v kind="$kind" -v n="$runs" -v size="$size" -v h="$h" -v c="$c" -v d="$d" -v cpu="$cpu" -v rss="$rss" 'BEGIN {
    mib = 1048576
    printf "%s kit, %.1f MiB of tables, medians of %d runs:\n", kind, size / mib, n
    printf "  headlink      %8.2f ms   (CPU %.1f ms, user + system)\n", h / 1000, cpu
    printf "  copy          %8.2f ms   headlink / copy         = %.2f\n", c / 1000, h / c
    printf "  durable copy  %8.2f ms   headlink / durable copy = %.2f\n", d / 1000, h / d
    printf "  peak memory   %8.1f MiB  = %.2f x the tables (bound: 2 x + 4 MiB = %.1f MiB)\n",
           rss / 1024, rss * 1024 / size, (2 * size + 4 * mib) / mib
  }'
done

# The realistic kit's tables read from the benchmarks' game folder
# (bench/kit.h: a key of about 30,000 entries, 20 archives, the tables among
# 600 in one archive of about 2.5 MB, a texture pack of 10,000 entries)
# against the same tables lying in the folder: headlink --game -n, which
# also checks the names new rows give against every resource the game can
# load, beside headlink -n, alternating; BENCH_BEFORE=PATH times a headlink
# without that check beside them. Then the bytes each reads (strace's
# account of its reads), and for the game folder's files the byte ranges:
# the key file whole, each texture pack's header and key list, and of the
# archive only its header and the entries of the three tables.
game=$work/game
mkdir -p "$game"
"$build/bench/make_kit" game "$game"
before=${BENCH_BEFORE:-}
: >"$work/g" ; : >"$work/p" ; : >"$work/b"
for ((i = 0; i < runs; i++)); do
  start=$(now); (cd "$game/kit" && "$exe" -n -q >/dev/null); echo $(($(now) - start)) >>"$work/p"
  start=$(now); (cd "$game/scripts" && "$exe" --game ../game -n -q >/dev/null); echo $(($(now) - start)) >>"$work/g"
  [ -z "$before" ] && continue
  start=$(now); (cd "$game/scripts" && "$before" --game ../game -n -q >/dev/null); echo $(($(now) - start)) >>"$work/b"
done
# trace_reads FOLDER ARGS...: headlink's reads in FOLDER, as "PATH OFFSET BYTES".
trace_reads() {
  (cd "$1" && shift && strace -f -qq -y -e trace=lseek,read,pread64 -o "$work/reads" "$exe" "$@" >/dev/null)
  awk '{ line = $0; sub(/^[0-9]+ +/, "", line) }
    match(line, /^(lseek|read|pread64)\([0-9]+<[^>]*>/) {
      call = substr(line, 1, index(line, "(") - 1)
      path = substr(line, index(line, "<") + 1); path = substr(path, 1, index(path, ">") - 1)
      n = line; sub(/.*= /, "", n); n += 0
      if (call == "lseek") { pos[path] = n; next }
      if (n <= 0) next
      if (call == "pread64") { off = line; sub(/.*, /, "", off); sub(/\).*/, "", off); print path, off + 0, n; next }
      print path, pos[path] + 0, n; pos[path] += n
    }' "$work/reads"
}
p=$(median <"$work/p"); g=$(median <"$work/g")
if command -v strace >/dev/null; then
  pb=$(trace_reads "$game/kit" -n -q | awk '{ s += $3 } END { print s + 0 }')
  trace_reads "$game/scripts" --game ../game -n -q >"$work/ranges"
  gb=$(awk '{ s += $3 } END { print s + 0 }' "$work/ranges")
else
  pb="?" gb="?"; : >"$work/ranges"
fi
keysize=$(wc -c <"$game/game/game.key"); archive=$(wc -c <"$game/game/data/tables.bif")
awk -v n="$runs" -v p="$p" -v g="$g" -v pb="$pb" -v gb="$gb" -v key="$keysize" -v arc="$archive" 'BEGIN {
  printf "a game folder (key of %.0f KiB, 20 archives, 600 tables in %.1f MiB, a texture pack of 10,000 entries),\n",
         key / 1024, arc / 1048576
  printf "medians of %d runs:\n", n
  printf "  headlink -n, tables in the folder  %8.2f ms   %s bytes read\n", p / 1000, pb
  printf "  headlink --game -n (names checked) %8.2f ms   %s bytes read   --game / folder = %.2f (goal: at most 2)\n",
         g / 1000, gb, g / p
}'
if [ -n "$before" ]; then
  b=$(median <"$work/b")
  awk -v b="$b" -v p="$p" 'BEGIN {
    printf "  BENCH_BEFORE --game -n             %8.2f ms   before / folder = %.2f\n", b / 1000, b / p }'
fi
echo "  what --game -n reads of the game folder (offset+bytes, merged):"
awk -v root="$game/game/" 'index($1, root) == 1 {
    f = substr($1, length(root) + 1); off = $2; n = $3
    if (!(f in total)) order[++files] = f
    total[f] += n
    if (f in end && end[f] == off) { end[f] = off + n; sub(/[0-9]+$/, n + last[f], ranges[f]); last[f] += n }
    else { ranges[f] = ranges[f] (f in end ? " " : "") off "+" n; end[f] = off + n; last[f] = n }
  } END { for (i = 1; i <= files; i++) printf "    %-28s %9d bytes: %s\n", order[i], total[order[i]], ranges[order[i]] }' \
  "$work/ranges" | while read -r file rest; do
    size=$(wc -c <"$game/game/$file")
    printf '    %-28s %s (of %s)\n' "$file" "$rest" "$size"
  done

# Installing into that game folder (one table already in its override
# folder, so that one backup is made) and undoing it, beside a plain run
# writing the three outputs and a durable copy of the three tables,
# alternating; then what the install's and the undo's flushes cost, by what
# they flush (strace's time in each fsync, by the file it names).
mkdir -p "$game/game/override"
cp "$game/kit/heads.2da" "$game/game/override/heads.2da"
: >"$work/r" ; : >"$work/d" ; : >"$work/i" ; : >"$work/u"
for ((i = 0; i < runs; i++)); do
  clean "$game/kit"; sync
  start=$(now); run_headlink "$game/kit"; echo $(($(now) - start)) >>"$work/r"
  clean "$game/kit"; sync
  start=$(now); durable_copy "$game/kit"; echo $(($(now) - start)) >>"$work/d"
  sync
  start=$(now); (cd "$game/scripts" && "$exe" --game ../game -q >/dev/null); echo $(($(now) - start)) >>"$work/i"
  sync
  start=$(now); (cd "$game/scripts" && "$exe" --game ../game --uninstall >/dev/null); echo $(($(now) - start)) >>"$work/u"
done
flushes() {
  (cd "$game/scripts" && strace -f -qq -y -T -e trace=fsync -o "$work/fsyncs" "$exe" "$@" >/dev/null)
  awk '/fsync\(/ {
      path = $0; sub(/^[^<]*</, "", path); sub(/>.*/, "", path)
      t = $NF; gsub(/[<>]/, "", t)
      what = "folders"
      if (path ~ /\.2da/) what = "tables"
      if (path ~ /headlink-backups\/[^\/]*\//) what = "backups"
      if (path ~ /report\.txt/) what = "report"
      if (path ~ /record\.txt/) what = "record"
      n[what]++; ms[what] += t * 1000 }
    END { for (w in n) printf "    %-8s %2d flushes %7.2f ms\n", w, n[w], ms[w] }' "$work/fsyncs" | sort
}
r=$(median <"$work/r"); d=$(median <"$work/d"); i=$(median <"$work/i"); u=$(median <"$work/u")
awk -v n="$runs" -v r="$r" -v d="$d" -v i="$i" -v u="$u" 'BEGIN {
  printf "installing the same tables into that game folder, medians of %d runs:\n", n
  printf "  headlink, outputs in the folder    %8.2f ms\n", r / 1000
  printf "  durable copy of the three tables   %8.2f ms   headlink / durable copy = %.2f\n", d / 1000, r / d
  printf "  headlink --game (install)          %8.2f ms   install / plain run = %.2f\n", i / 1000, i / r
  printf "  headlink --game --uninstall        %8.2f ms   uninstall / plain run = %.2f\n", u / 1000, u / r
}'
if command -v strace >/dev/null; then
  echo "  the install's flushes (under strace, which slows each call):"
  flushes --game ../game -q
  echo "  the uninstall's flushes:"
  flushes --game ../game --uninstall
fi

# A pack of 50 heads on the realistic kit against one head's run on the
# same kit, alternating: the tables are read and written once either way.
pack=$work/pack
mkdir -p "$pack/one" "$pack/fifty"
"$build/bench/make_kit" realistic "$pack/one" >/dev/null
cp "$pack/one"/*.2da "$pack/fifty/"
head_scripts() {  # FOLDER KEY
  mkdir -p "$1"
  printf '1 0 head_%s\n1 hd_%s\n' "$2" "$2" >"$1/head.txt"
  printf '1 0 App%s\n4 tex_%s\n' "$2" "$2" >"$1/apphead1.txt"
  printf '1 0 App%sCloaked\n' "$2" >"$1/apphead2.txt"
  printf '1 0 App%s\n' "$2" >"$1/apphead3.txt"
  printf '1 0 po_%s\n' "$2" >"$1/portraits.txt"
}
head_scripts "$pack/one" h100
for ((h = 100; h < 150; h++)); do head_scripts "$pack/heads/h$h" "h$h"; done
: >"$work/one" ; : >"$work/fifty"
for ((i = 0; i < runs; i++)); do
  clean "$pack/one"; clean "$pack/fifty"; sync
  start=$(now); run_headlink "$pack/one"; echo $(($(now) - start)) >>"$work/one"
  sync
  start=$(now); (cd "$pack/fifty" && "$exe" -q --heads ../heads); echo $(($(now) - start)) >>"$work/fifty"
done
one=$(median <"$work/one"); fifty=$(median <"$work/fifty")
awk -v n="$runs" -v one="$one" -v fifty="$fifty" 'BEGIN {
  printf "a pack of 50 heads on the realistic kit, medians of %d runs:\n", n
  printf "  headlink, one head             %8.2f ms\n", one / 1000
  printf "  headlink --heads, 50 heads     %8.2f ms   50 heads / one head = %.2f\n", fifty / 1000, fifty / one
}'

# At a player's scale: the same game folder with 30,000 files in its
# override folder (every name there is one the game can load), and a pack
# of 100 heads checked against it, beside one head's run on the tables
# lying in a folder; BENCH_BEFORE=PATH times another headlink beside them.
big=$work/big
"$build/bench/make_kit" game "$big"
mkdir -p "$big/game/override"
(cd "$big/game/override" && seq 0 29999 | awk '{ printf "ov_%05d.%s\n", $1, substr("tgamdlwav", 3 * ($1 % 3) + 1, 3) }' | xargs touch)
for ((h = 100; h < 200; h++)); do head_scripts "$big/heads/h$h" "h$h"; done
: >"$work/bp" ; : >"$work/bg" ; : >"$work/bh" ; : >"$work/bb"
for ((i = 0; i < runs; i++)); do
  start=$(now); (cd "$big/kit" && "$exe" -n -q >/dev/null); echo $(($(now) - start)) >>"$work/bp"
  start=$(now); (cd "$big/scripts" && "$exe" --game ../game -n -q >/dev/null); echo $(($(now) - start)) >>"$work/bg"
  start=$(now); (cd "$big/scripts" && "$exe" --game ../game -n -q --heads ../heads >/dev/null); echo $(($(now) - start)) >>"$work/bh"
  [ -z "$before" ] && continue
  start=$(now); (cd "$big/scripts" && "$before" --game ../game -n -q --heads ../heads >/dev/null); echo $(($(now) - start)) >>"$work/bb"
done
bp=$(median <"$work/bp"); bg=$(median <"$work/bg"); bh=$(median <"$work/bh")
awk -v n="$runs" -v p="$bp" -v g="$bg" -v h="$bh" 'BEGIN {
  printf "that game folder with 30,000 files in its override folder, medians of %d runs:\n", n
  printf "  headlink -n, tables in the folder     %8.2f ms\n", p / 1000
  printf "  headlink --game -n                    %8.2f ms   / folder = %.2f\n", g / 1000, g / p
  printf "  headlink --game -n, a pack of 100     %8.2f ms   / folder = %.2f\n", h / 1000, h / p
}'
if [ -n "$before" ]; then
  bb=$(median <"$work/bb")
  awk -v b="$bb" -v h="$bh" 'BEGIN { printf "  BENCH_BEFORE, the pack of 100         %8.2f ms   this / before = %.2f\n", b / 1000, h / b }'
fi

echo
echo "In-memory benchmarks (per-row rates at 1,000 and 65,535 rows show how cost grows):"
if [ -n "${BENCH_QUICK:-}" ]; then
  "$build/bench/headlink_bench" --benchmark_min_time=0.001
else
  "$build/bench/headlink_bench"
fi
