#!/usr/bin/env bash
# Fault sweep: runs headlink on the example kit once for each file-system
# call a clean run makes, failing that one call (strace -e inject), and
# checks the promises after every run:
#   - exit 0, and all three outputs are the clean run's; or
#   - exit 1 with a "headlink: ..." line, and all three earlier outputs as
#     they were; or, only for a fault in the renames or the folder flush,
#   - exit 1 with a message naming exactly which outputs are new: those are
#     the clean run's, the rest as they were;
#   - the inputs never change, and no temporary is left unless a message
#     names it.
# Calls are counted from the first one that names a kit file: the ones
# before belong to the dynamic loader. Short writes come from a real
# file-size limit (and, as root, a small full file system), not from
# strace's retval=, which skips the call and lies about it. Then the same
# for twoda build, interruptions at random moments, and a trace showing the
# folder flushed after the last rename.
#   bash tests/fault_sweep.sh BUILD_DIR
set -uo pipefail
build=$(cd "${1:?usage: fault_sweep.sh BUILD_DIR}" && pwd)
cd "$(dirname "$0")/.."
headlink=$build/app/headlink
twoda=$build/twoda/twoda
kit=$PWD/examples
command -v strace >/dev/null || { echo "fault sweep: needs strace" >&2; exit 1; }

work=$(mktemp -d)
trap 'umount "$work/small" 2>/dev/null; rm -rf "$work"' EXIT
inputs="appearance.2da heads.2da portraits.2da head.txt apphead1.txt apphead2.txt apphead3.txt portraits.txt"
outputs="appearance_updated.2da heads_updated.2da portraits_updated.2da"
runs=0
broken=0

# A folder with the kit and an earlier output of each name.
setup() {
  rm -rf "$1" && mkdir -p "$1"
  for f in $inputs; do cp "$kit/$f" "$1/"; done
  for f in $outputs; do echo "earlier $f" >"$1/$f"; done
}
# The clean run's outputs, to compare with.
setup "$work/ref"
(cd "$work/ref" && "$headlink") || { echo "fault sweep: the clean run failed" >&2; exit 1; }

fail() { broken=$((broken + 1)); echo "BROKEN ($1): $2"; sed 's/^/    /' "$3"; }

# The earlier outputs as they must stay: with SOLID=1 all of them are
# writable, with SOLID=0 heads_updated.2da is read-only, so that no run may
# succeed at all.
SOLID=1
setup_variant() {
  setup "$1"
  [ $SOLID = 1 ] || chmod 444 "$1/heads_updated.2da"
}

# whole DIR ERRFILE WHAT: the inputs as they were, no temporary the message
# does not name, and each output either the earlier one or the new one.
# Sets NEW to how many are new.
whole() {
  local dir=$1 err=$2 what=$3 f new=0
  for f in $inputs; do cmp -s "$kit/$f" "$dir/$f" || { fail "$what" "input $f changed" "$err"; return 1; }; done
  for f in $(ls -A "$dir" | grep '\.headlink-'); do
    grep -qF "$f" "$err" || { fail "$what" "temporary $f left and not named" "$err"; return 1; }
  done
  grep -q 'terminate called\|Aborted' "$err" && { fail "$what" "the runtime aborted" "$err"; return 1; }
  for f in $outputs; do
    if cmp -s "$work/ref/$f" "$dir/$f"; then new=$((new + 1))
    elif [ "$(cat "$dir/$f" 2>/dev/null)" != "earlier $f" ]; then
      fail "$what" "$f is neither the earlier nor the new output" "$err"; return 1
    fi
  done
  [ $SOLID = 1 ] || [ $new = 0 ] || { fail "$what" "a read-only earlier output was replaced" "$err"; return 1; }
  NEW=$new
}

# judge WHAT DIR STATUS ERRFILE: checks one headlink run's promises.
judge() {
  local what=$1 dir=$2 status=$3 err=$4 f new named
  runs=$((runs + 1))
  whole "$dir" "$err" "$what" || return
  new=$NEW
  case $status in
    0) [ $SOLID = 1 ] && [ $new = 3 ] || fail "$what" "exit 0 without all three new outputs" "$err" ;;
    1)
      grep -q '^headlink: ' "$err" || { fail "$what" "exit 1 without a message" "$err"; return; }
      [ $new = 0 ] && return
      if grep -q 'may not survive a power cut' "$err"; then
        [ $new = 3 ] || fail "$what" "flush failure without all three new" "$err"
        return
      fi
      named=$(sed -n 's/.*no longer match each other: new: \([^;]*\);.*/\1/p' "$err")
      [ -n "$named" ] || { fail "$what" "a mixed set, and no message says so" "$err"; return; }
      for f in $outputs; do
        if cmp -s "$work/ref/$f" "$dir/$f"; then
          grep -q "$f" <<<"$named" || fail "$what" "$f is new but not named so" "$err"
        else
          grep -q "$f" <<<"$named" && fail "$what" "$f is named new but is not" "$err"
        fi
      done ;;
    *) fail "$what" "exit status $status" "$err" ;;
  esac
}

calls="openat read write fsync close rename newfstatat access brk mmap"

# occurrences CALL TRACE FIRST: the numbers, counted as strace's when=
# counts them, of the calls CALL in TRACE from line FIRST on; not the
# messages headlink writes on its standard streams.
occurrences() {
  awk -v first="$3" -v call="$1(" '
    index($2, call) == 1 { n++; if (NR >= first && $2 != "write(1," && $2 != "write(2,") print n }' "$2"
}

# sweep: one run per (call, occurrence) that a clean run of this variant
# makes after it first names the kit; each fails that call.
sweep() {
  local call n e errors dir=$work/run
  setup_variant "$dir"
  (cd "$dir" && strace -f -qq -o "$work/trace" -e trace="${calls// /,}" "$headlink" 2>/dev/null)
  first=$(grep -n 'appearance\.2da"' "$work/trace" | head -1 | cut -d: -f1)
  for call in $calls; do
    errors="EIO"
    [ "$call" = write ] && errors="EIO ENOSPC"
    [ "$call" = newfstatat ] || [ "$call" = access ] && errors="EIO EACCES"
    [ "$call" = brk ] || [ "$call" = mmap ] && errors="ENOMEM"
    for n in $(occurrences "$call" "$work/trace" "$first"); do
      for e in $errors; do
        setup_variant "$dir"
        (cd "$dir" && timeout 20 strace -f -qq -o /dev/null -e trace="$call" \
          -e inject="$call:error=$e:when=$n" "$headlink" 2>"$work/err")
        judge "$call #$n $e" "$dir" $? "$work/err"
      done
    done
  done
}
sweep
cp "$work/trace" "$work/headlink.trace"

# A write that fails and a temporary that cannot be removed: the message
# must name it.
for n in $(occurrences write "$work/trace" "$first"); do
  setup "$work/run"
  (cd "$work/run" && strace -f -qq -o /dev/null -e trace=write,unlink -e inject="write:error=ENOSPC:when=$n" \
    -e inject=unlink:error=EIO "$headlink" 2>"$work/err")
  judge "write #$n ENOSPC, unlink failing" "$work/run" $? "$work/err"
done

# A read-only earlier output is never replaced, whatever fails around the
# look at it.
SOLID=0
sweep
SOLID=1

# Real short writes: past a file-size limit, and on a full small file system.
setup "$work/run"
(cd "$work/run" && trap '' XFSZ && ulimit -f 1 && "$headlink" 2>"$work/err")
judge "ulimit -f 1" "$work/run" $? "$work/err"
if [ "$(id -u)" = 0 ] && mkdir -p "$work/small" && mount -t tmpfs -o size=64k tmpfs "$work/small" 2>/dev/null; then
  umount "$work/small"
  # tmpfs counts whole pages: eleven files before the run, then one page per temporary.
  for kb in 44 48 52 56 60; do
    mount -t tmpfs -o size=${kb}k tmpfs "$work/small"
    setup "$work/small/run" 2>/dev/null
    (cd "$work/small/run" && "$headlink" 2>"$work/err")
    judge "full file system of ${kb}k" "$work/small/run" $? "$work/err"
    umount "$work/small"
  done
fi

# Memory short from the start: a tight address-space limit, raised step by
# step. Runs the dynamic loader could not even start are not ours to judge.
for ((as = 5000; as <= 8000; as += 50)); do
  setup "$work/run"
  (cd "$work/run" && prlimit --as=$((as * 1000)) "$headlink" 2>"$work/err")
  status=$?
  grep -q 'error while loading shared libraries\|cannot allocate TLS' "$work/err" && continue
  # The loader's own "out of memory", before the program starts (127).
  [ $status = 127 ] && ! grep -q '^headlink: ' "$work/err" && continue
  judge "address space of ${as} kB" "$work/run" $status "$work/err"
done

# Interruptions at random moments: a signal the program handles leaves all
# three outputs earlier or all three new, and no temporary.
RANDOM=1
for ((i = 0; i < 60; i++)); do
  sig=$(( i % 3 == 0 ? 2 : i % 3 == 1 ? 15 : 1 ))
  setup "$work/run"
  (cd "$work/run" && exec "$headlink" 2>"$work/err") &
  pid=$!
  sleep "0.00$((RANDOM % 4))$((RANDOM % 10))"
  kill -s "$sig" $pid 2>/dev/null
  { wait $pid; } 2>/dev/null
  status=$?
  if [ $status -gt 128 ]; then
    runs=$((runs + 1))
    whole "$work/run" "$work/err" "signal $sig" && [ $NEW != 1 ] && [ $NEW != 2 ] ||
      fail "signal $sig" "outputs do not match each other" "$work/err"
  else
    judge "signal $sig, too late" "$work/run" "$status" "$work/err"
  fi
done

# Many files written together (as an install writes them), interrupted
# while each temporary is flushed: none may stay behind, however many.
many=$work/many
for ((n = 1; n <= 12; n++)); do
  rm -rf "$many" && mkdir "$many"
  # (In a subshell that exits with the status and drops its own stderr:
  # the shell would say "Terminated".)
  (strace -f -qq -o /dev/null -e trace=fsync -e inject=fsync:signal=SIGTERM:when=$n \
    "$build/tests/write_together" "$many" 12 2>"$work/err"; exit $?) 2>/dev/null
  status=$?
  runs=$((runs + 1))
  if [ $status != 143 ] || [ -n "$(ls -A "$many")" ]; then
    fail "twelve files, SIGTERM at flush #$n" "exit $status, left: $(ls -A "$many" | tr '\n' ' ')" "$work/err"
  fi
done

# twoda build: one output, the same promises.
twoda_ref=$work/twoda-ref.2da
"$twoda" build "$kit/text/heads.2da" "$twoda_ref"
mkdir -p "$work/t"
(cd "$work/t" && echo earlier >out.2da && strace -f -qq -o "$work/ttrace" -e trace="${calls// /,}" \
  "$twoda" build "$kit/text/heads.2da" out.2da)
tfirst=$(grep -n 'heads\.2da"' "$work/ttrace" | head -1 | cut -d: -f1)
for call in $calls; do
  for n in $(occurrences "$call" "$work/ttrace" "$tfirst"); do
    e=EIO
    [ "$call" = brk ] || [ "$call" = mmap ] && e=ENOMEM
    rm -rf "$work/t" && mkdir "$work/t" && echo earlier >"$work/t/out.2da"
    (cd "$work/t" && strace -f -qq -o /dev/null -e trace="$call" -e inject="$call:error=$e:when=$n" \
      "$twoda" build "$kit/text/heads.2da" out.2da 2>"$work/err")
    status=$?
    runs=$((runs + 1))
    if [ -n "$(ls -A "$work/t" | grep '\.headlink-')" ] && ! grep -q '\.headlink-' "$work/err"; then
      fail "twoda build, $call #$n" "temporary left and not named" "$work/err"
    elif [ $status = 0 ] || grep -q 'may not survive a power cut' "$work/err"; then
      cmp -s "$twoda_ref" "$work/t/out.2da" || fail "twoda build, $call #$n" "exit $status, output not new" "$work/err"
    elif ! grep -q '^twoda: ' "$work/err" || [ "$(cat "$work/t/out.2da")" != earlier ]; then
      fail "twoda build, $call #$n" "exit $status, earlier output not kept or no message" "$work/err"
    fi
  done
done

# twoda build of a large text table (30 MB) short of memory: exit 2 with a
# message naming the file, wherever the memory runs out, or the output.
big=$work/big.2da
awk 'BEGIN { print "2DA V2.0"; print ""; for (c = 0; c < 100; c++) printf "c%d ", c; print "";
  for (i = 0; i < 65535; i++) { printf "%d", i; for (c = 0; c < 100; c++) printf " t%d", (i + c) % 300; print "" } }' >"$big"
"$twoda" build "$big" "$work/big-ref.2da"
for ((as = 10; as <= 90; as += 5)); do
  rm -rf "$work/t" && mkdir "$work/t" && echo earlier >"$work/t/out.2da"
  (cd "$work/t" && prlimit --as=$((as * 1000000)) "$twoda" build "$big" out.2da 2>"$work/err")
  status=$?
  grep -q 'error while loading shared libraries\|cannot allocate TLS' "$work/err" && continue
  runs=$((runs + 1))
  if [ $status = 0 ]; then
    cmp -s "$work/big-ref.2da" "$work/t/out.2da" || fail "twoda build in ${as} MB" "exit 0, output not new" "$work/err"
  elif [ $status != 2 ] || ! grep -qx "twoda: \($big\|out.2da\): not enough memory" "$work/err" ||
      [ "$(cat "$work/t/out.2da")" != earlier ]; then
    fail "twoda build in ${as} MB" "exit $status, not the memory failure, or the earlier output changed" "$work/err"
  fi
done

# The folder is flushed after the last rename, before a success is reported.
for trace in "$work/headlink.trace" "$work/ttrace"; do
  runs=$((runs + 1))
  if ! awk '/rename\(/ { r = NR; fd = "" }
            r && /openat\(AT_FDCWD, "\.", .*O_DIRECTORY/ { fd = $NF }
            r && fd != "" && $0 ~ "fsync\\(" fd "\\) += 0" { ok = NR }
            END { exit !(r && ok > r) }' "$trace"; then
    broken=$((broken + 1))
    echo "BROKEN: no folder flush after the last rename in $(basename "$trace")"
  fi
done

echo "fault sweep: $runs runs, $broken broken promises"
[ $broken = 0 ]
