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
# Only the sweep itself cleans up: a subshell killed the moment it is forked
# (the interruptions below, on a busy machine) still holds this trap, and
# would remove the work folder under the runs still to come.
sweep_pid=$BASHPID
trap '[ "$BASHPID" != "$sweep_pid" ] || { umount "$work/small" 2>/dev/null; rm -rf "$work"; }' EXIT
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

# Not brk: the kernel never fails it with an error (it returns the old
# break), so an injected ENOMEM reads to the C library as success and the
# program touches memory it never got. Memory runs short for real below,
# under address-space limits; mmap fails as the kernel fails it.
calls="openat read write fsync close rename newfstatat access mmap"
extra=()  # more arguments for headlink: a pack

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
  (cd "$dir" && strace -f -qq -o "$work/trace" -e trace="${calls// /,}" "$headlink" "${extra[@]}" 2>/dev/null)
  first=$(grep -n 'appearance\.2da"' "$work/trace" | head -1 | cut -d: -f1)
  for call in $calls; do
    errors="EIO"
    [ "$call" = write ] && errors="EIO ENOSPC"
    [ "$call" = newfstatat ] || [ "$call" = access ] && errors="EIO EACCES"
    [ "$call" = mmap ] && errors="ENOMEM"
    for n in $(occurrences "$call" "$work/trace" "$first"); do
      for e in $errors; do
        setup_variant "$dir"
        (cd "$dir" && timeout 20 strace -f -qq -o /dev/null -e trace="$call" \
          -e inject="$call:error=$e:when=$n" "$headlink" "${extra[@]}" 2>"$work/err")
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

# A pack (the example pack, three heads): the same promises, against the
# outputs of a clean run of the pack.
extra=(--heads "$kit/pack")
setup "$work/ref"
(cd "$work/ref" && "$headlink" "${extra[@]}" -q) || { echo "fault sweep: the clean run of the pack failed" >&2; exit 1; }
sweep
extra=()
setup "$work/ref"
(cd "$work/ref" && "$headlink")

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
    [ "$call" = mmap ] && e=ENOMEM
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

# Installing into a game folder and undoing it. A game folder's whole
# state is a snapshot: every folder, every link and its target, and every
# file with its checksum, its count of links and the first path sharing its
# inode (install folders' names and temporaries' random tags made uniform). After
# each run, whatever failed or wherever the run was killed, the folder is
# as before (S0), as installed (S1), or a clean --uninstall brings it back
# to exactly S0; a run that says it succeeded left S1 (install) or S0
# (uninstall).
game=$work/game
# (Not the lock file: one its last holder could not remove is held by no
# one, holds nothing off, and goes with the next run.)
snap() {
  ( cd "$1" || exit
    find . -mindepth 1 -type d | sed 's|$|/|'
    find . -type l -printf '%p -> %l\n'
    declare -A first
    find . -type f ! -path ./.headlink.lock -printf '%i %n %p\n' | sort -k3 | while read -r inode links f; do
      [ -n "${first[$inode]:-}" ] || first[$inode]=$f
      if [ "${f##*/}" = record.txt ]; then sum=$(sed 's/headlink-[0-9a-f]\{16\}/headlink-T/g' "$f" | sha1sum)
      # A read failing in what only the check of names reads (a texture
      # pack, the override folder's listing) changes what the report warns
      # of, never what is installed.
      elif [ "${f##*/}" = report.txt ]; then sum=$(grep -v ': warning: ' "$f" | sha1sum)
      else sum=$(sha1sum <"$f"); fi
      echo "$f ${sum:0:40} links=$links same=${first[$inode]}"
    done
  ) | sed -e 's|/[0-9]\{8\}-[0-9]\{6\}\(-[0-9][0-9]*\)\?|/STAMP|g' \
          -e 's/headlink-[0-9a-f]\{16\}\.tmp/headlink-T.tmp/g' | sort
}
rm -rf "$work/game0" && "$build/make_game" "$work/game0" >/dev/null
# Tables a mod manager deployed as links, into its store inside the game
# folder (so that a copy keeps them): heads.2da a symbolic link, and
# portraits.2da a second name of the store's file. An undo must give back
# the same links.
mkdir "$work/game0/modstore"
mv "$work/game0/Override/heads.2da" "$work/game0/modstore/heads.2da"
ln -s ../modstore/heads.2da "$work/game0/Override/heads.2da"
"$build/twoda/twoda" extract --game "$work/game0" portraits.2da -o "$work/game0/modstore" >/dev/null
ln "$work/game0/modstore/portraits.2da" "$work/game0/Override/portraits.2da"
mkdir -p "$work/scripts" && cp "$kit"/*.txt "$work/scripts/"
gextra=()  # more arguments for the install: a pack
install_game() { (cd "$work/scripts" && "$@" "$headlink" --game "$game" "${gextra[@]}" 2>"$work/err" >/dev/null); }
uninstall_game() { (cd "$work/scripts" && "$@" "$headlink" --game "$game" --uninstall 2>"$work/err" >/dev/null); }
rm -rf "$game" && cp -a "$work/game0" "$game"
S0=$(snap "$game")
install_game || { echo "fault sweep: the clean install failed" >&2; cat "$work/err"; exit 1; }
S1=$(snap "$game")
rm -rf "$work/game1" && cp -a "$game" "$work/game1"
strace -f -qq -o "$work/itrace" -e trace=all "$headlink" --game "$game" --uninstall -C "$work/scripts" >/dev/null
[ "$(snap "$game")" = "$S0" ] || { echo "fault sweep: the clean uninstall did not restore the game" >&2; exit 1; }
rm -rf "$game" && cp -a "$work/game0" "$game"
(cd "$work/scripts" && strace -f -qq -o "$work/gtrace" -e trace=all "$headlink" --game "$game" >/dev/null)
# The example pack installed: its three heads' rows and the file one brings.
rm -rf "$game" && cp -a "$work/game0" "$game"
gextra=(--heads "$kit/pack")
install_game || { echo "fault sweep: the clean install of the pack failed" >&2; cat "$work/err"; exit 1; }
S1p=$(snap "$game")
rm -rf "$game" && cp -a "$work/game0" "$game"
(cd "$work/scripts" && strace -f -qq -o "$work/ptrace" -e trace=all "$headlink" --game "$game" "${gextra[@]}" >/dev/null)
gextra=()
# The example game folder holds a texture pack, whose header and key list
# every run with --game reads to check the names new rows give: those reads
# are swept with the rest.
for trace in "$work/gtrace" "$work/ptrace"; do
  grep -q 'TexturePacks/[^"]*\.erf"' "$trace" ||
    { echo "fault sweep: the game runs read no texture pack ($(basename "$trace"))" >&2; exit 1; }
done

# each_call TRACE FIRST: each call of TRACE from line FIRST on, as "CALL N"
# (the N-th call of its name), but for the messages on the standard streams
# and the exit.
each_call() {
  awk -v first="$2" '
      /^[0-9]+ +\+\+\+|^[0-9]+ +---/ { next }
      { split($2, a, "("); c = a[1]; n[c]++ }
      NR >= first && $2 != "write(1," && $2 != "write(2," && c != "exit_group" { print c, n[c] }' "$1"
}

# judge_game WHAT MODE STATUS: MODE is install or uninstall.
judge_game() {
  local what=$1 mode=$2 status=$3 now
  runs=$((runs + 1))
  grep -q 'terminate called\|Aborted' "$work/err" && { fail "$what" "the runtime aborted" "$work/err"; return; }
  now=$(snap "$game")
  if [ "$status" = 0 ]; then
    if [ $mode = install ] && [ "$now" != "$SIN" ]; then fail "$what" "exit 0, not as installed" "$work/err"; fi
    if [ $mode = uninstall ] && [ "$now" != "$S0" ]; then fail "$what" "exit 0, not as before" "$work/err"; fi
    return
  fi
  [ "$status" = 137 ] || grep -q '^headlink: ' "$work/err" || { fail "$what" "exit $status without a message" "$work/err"; return; }
  # What could not be made is named as the user knows it, never as our temporary.
  grep -qE '\.headlink-[0-9a-f]{16}\.tmp: cannot create' "$work/err" &&
    fail "$what" "a message names a temporary of ours as what it could not create" "$work/err"
  # An undo that says it changed nothing left the install exactly in place.
  if [ $mode = uninstall ] && grep -q 'nothing was undone' "$work/err" && ! grep -q 'failed too' "$work/err" &&
    [ "$now" != "$S1" ]; then
    fail "$what" "said nothing was undone, but the game folder is not as installed" "$work/err"
    diff <(echo "$S1") <(echo "$now") | sed 's/^/    /' | head -20
  fi
  [ "$now" = "$S0" ] || [ "$now" = "$SIN" ] && return
  cp "$work/err" "$work/err.run"
  if ! uninstall_game || [ "$(snap "$game")" != "$S0" ]; then
    fail "$what" "left a state --uninstall does not bring back (exit $status)" "$work/err.run"
    diff <(echo "$S0") <(snap "$game") | sed 's/^/    /' | head -20
  fi
}

# Every call after the run first names the game folder: failed (file-system
# calls) or the process killed just before it (every call). mmap is how a
# large buffer (the key file, a texture pack's key list) gets its memory.
game_calls="openat read write fsync close rename newfstatat access faccessat2 mkdir unlink rmdir getdents64 lseek pread64
  readlink mmap symlink link"
# A pack's install (its heads' rows and files) gets the failed calls.
for mode in install uninstall pack; do
  case $mode in
    install) trace=$work/gtrace from=$work/game0 run=install SIN=$S1; gextra=() ;;
    uninstall) trace=$work/itrace from=$work/game1 run=uninstall ;;
    pack) trace=$work/ptrace from=$work/game0 run=install SIN=$S1p; gextra=(--heads "$kit/pack") ;;
  esac
  first=$(grep -n "\"$game" "$trace" | grep -v execve | head -1 | cut -d: -f1)
  kills=0
  while [ $mode != pack ] && read -r call n; do
    rm -rf "$game" && cp -a "$from" "$game"
    (${run}_game timeout 20 strace -f -qq -o /dev/null -e trace="$call" -e inject="$call:signal=KILL:when=$n"; exit $?) 2>/dev/null
    judge_game "$mode, killed at $call #$n" $run $?
    kills=$((kills + 1))
  done < <(each_call "$trace" "$first")
  faults=0
  for call in $game_calls; do
    for n in $(occurrences "$call" "$trace" "$first"); do
      for e in EIO $([ "$call" = write ] && echo ENOSPC) $([ "$call" = faccessat2 ] && echo EACCES); do
        rm -rf "$game" && cp -a "$from" "$game"
        ${run}_game timeout 20 strace -f -qq -o /dev/null -e trace="$call" -e inject="$call:error=$e:when=$n"
        judge_game "$mode, $call #$n $e" $run $?
        faults=$((faults + 1))
      done
    done
  done
  echo "game folder, $mode: $kills kills, $faults failed calls"
done
gextra=()

# Two installs, the second undone and killed at each of its calls in turn:
# unless the undo was already done, undoing again finishes it and stops
# there, with the first install still in place; one more undo gives the
# game as it was.
rm -rf "$game" && cp -a "$work/game0" "$game"
install_game || { echo "fault sweep: the first of two installs failed" >&2; exit 1; }
SF=$(snap "$game")
mkdir -p "$work/scripts2" && cp "$kit"/*.txt "$work/scripts2/"
echo "1 0 head_elf_f_moonveil 1 hd_el_f_other" >"$work/scripts2/head.txt"
(cd "$work/scripts2" && "$headlink" --game "$game" >/dev/null) || { echo "fault sweep: the second install failed" >&2; exit 1; }
rm -rf "$work/game2" && cp -a "$game" "$work/game2"
strace -f -qq -o "$work/u2trace" -e trace=all "$headlink" --game "$game" --uninstall >/dev/null
first=$(grep -n "\"$game" "$work/u2trace" | grep -v execve | head -1 | cut -d: -f1)
kills=0
while read -r call n; do
  rm -rf "$game" && cp -a "$work/game2" "$game"
  (uninstall_game timeout 20 strace -f -qq -o /dev/null -e trace="$call" -e inject="$call:signal=KILL:when=$n"; exit $?) 2>/dev/null
  cp "$work/err" "$work/err.run"
  runs=$((runs + 1)) kills=$((kills + 1))
  if [ "$(snap "$game")" != "$SF" ] && { ! uninstall_game || [ "$(snap "$game")" != "$SF" ]; }; then
    fail "second of two undone, killed at $call #$n" "undoing again did not leave the first install" "$work/err.run"
    diff <(echo "$SF") <(snap "$game") | sed 's/^/    /' | head -20
  elif ! uninstall_game || [ "$(snap "$game")" != "$S0" ]; then
    fail "second of two undone, killed at $call #$n" "the first install's undo did not give the game as it was" "$work/err"
  fi
done < <(each_call "$work/u2trace" "$first")
echo "game folder, the second of two installs undone: $kills kills"

# Two runs at once in one game folder: the first slowed at every flush, the
# second started at a random moment beside it. Each did its whole job or
# was refused for the lock, changing nothing; the folder is as some order
# of the two would leave it; undoing everything gives the game as it was.
busy="headlink: $game: another headlink is installing into or undoing in this game folder: try again when it has finished"
# A run: "1" installs the kit's scripts, "2" the other head's, "u" undoes.
run_step() {
  case $1 in
    u) (cd "$work/scripts" && exec "${@:2}" "$headlink" --game "$game" --uninstall) ;;
    1) (cd "$work/scripts" && exec "${@:2}" "$headlink" --game "$game") ;;
    2) (cd "$work/scripts2" && exec "${@:2}" "$headlink" --game "$game") ;;
  esac
}
state_after() {  # FROM, then the runs in order
  local from=$1 step
  rm -rf "$game" && cp -a "$from" "$game"
  shift
  for step; do
    run_step "$step" >/dev/null || { echo "fault sweep: a run for the overlaps failed" >&2; exit 1; }
  done
  snap "$game"
}
S2=$(state_after "$work/game0" 2) S12=$(state_after "$work/game0" 1 2) S21=$(state_after "$work/game0" 2 1)
S1u2=$(state_after "$work/game1" u 2)
RANDOM=7
refused=0
for pair in "game0 1 2" "game1 2 u"; do
  set -- $pair
  for ((i = 0; i < 20; i++)); do
    rm -rf "$game" && cp -a "$work/$1" "$game"
    run_step "$2" strace -f -qq -o /dev/null -e trace=fsync -e inject=fsync:delay_enter=20000 >/dev/null 2>"$work/err.a" &
    first_run=$!
    sleep "0.0$((RANDOM % 10))"
    run_step "$3" >/dev/null 2>"$work/err.b"
    second=$?
    wait $first_run
    firsts=$?
    runs=$((runs + 2))
    for run in "a $firsts" "b $second"; do
      set -- $pair $run
      if [ "$5" != 0 ] && { [ "$5" != 1 ] || [ "$(cat "$work/err.$4")" != "$busy" ]; }; then
        fail "$pair at once, #$i" "run $4 exit $5, not for the lock" "$work/err.$4"
      fi
      [ "$5" = 0 ] || refused=$((refused + 1))
    done
    set -- $pair
    now=$(snap "$game")
    case "$1 $now" in
      "game0 $S12" | "game0 $S21" | "game0 $S1" | "game0 $S2") ;;
      "game1 $S12" | "game1 $S1u2" | "game1 $S0") ;;
      *) fail "$pair at once, #$i" "the game folder is as no order of the two leaves it" "$work/err.a" ;;
    esac
    for ((u = 0; u < 3; u++)); do uninstall_game; done
    [ "$(snap "$game")" = "$S0" ] || fail "$pair at once, #$i" "undoing everything did not give the game as it was" "$work/err"
  done
done
echo "game folder: two installs at once, and an install beside an undo, 20 times each ($refused refused for the lock)"

# What file systems and other programs do. A lock file a crash left is no
# obstacle, and goes with the next run. A pack file named like a Windows
# short name is refused, changing nothing. A name as long as a name may be
# installs, and its undo, failed at each of its renames, changes nothing
# and says so. A file the undo cannot move (immutable, where the file
# system has that) stops it before it changes anything.
quirk() {  # WHAT EXPECTED-STATE: after a run whose output is in $work/err
  runs=$((runs + 1))
  [ "$(snap "$game")" = "$2" ] || { fail "$1" "the game folder is not as it should be" "$work/err"; diff <(echo "$2") <(snap "$game") | sed 's/^/    /' | head; }
}
rm -rf "$game" && cp -a "$work/game0" "$game" && : >"$game/.headlink.lock"
(cd "$work/scripts" && timeout 3 "$headlink" --game "$game" -n >/dev/null 2>"$work/err") ||
  fail "a lock file left by a crash" "a dry run waited for it or failed" "$work/err"
: >"$game/.headlink.lock"
install_game || fail "a lock file left by a crash" "the install failed" "$work/err"
quirk "a lock file left by a crash" "$S1"
rm -rf "$work/quirks" && mkdir -p "$work/quirks/head/override" && cp "$kit"/*.txt "$work/quirks/head/"
echo "a table" >"$work/quirks/head/override/APPEAR~1.2DA"
rm -rf "$game" && cp -a "$work/game0" "$game"
gextra=(--heads "$work/quirks")
install_game && fail "a short name's shape" "installed" "$work/err"
quirk "a short name's shape" "$S0"
rm "$work/quirks/head/override/APPEAR~1.2DA" && echo "a model" >"$work/quirks/head/override/$(printf 'm%.0s' {1..251}).mdl"
install_game || fail "a name of 255 bytes" "the install failed" "$work/err"
SL=$(snap "$game")
for n in 2 3 4 5; do
  uninstall_game strace -f -qq -o /dev/null -e trace=rename -e inject=rename:error=EIO:when=$n
  runs=$((runs + 1))
  now=$(snap "$game")
  if grep -q 'nothing was undone' "$work/err"; then quirk "a name of 255 bytes, undone, rename #$n failing" "$SL"
  elif [ "$now" != "$S0" ] && { ! uninstall_game || [ "$(snap "$game")" != "$S0" ]; }; then
    fail "a name of 255 bytes, undone, rename #$n failing" "left what --uninstall does not undo" "$work/err"
  fi
  [ "$(snap "$game")" = "$S0" ] && { install_game || fail "a name of 255 bytes" "installing again failed" "$work/err"; }
done
uninstall_game && quirk "a name of 255 bytes, undone" "$S0"
gextra=()
rm -rf "$game" && cp -a "$work/game0" "$game" && install_game
if chattr +i "$game/Override/appearance.2da" 2>/dev/null; then
  uninstall_game
  status=$?
  chattr -i "$game/Override/appearance.2da"
  [ $status = 1 ] && grep -q 'Override/appearance.2da: it is marked immutable' "$work/err" ||
    fail "an immutable table, undone" "exit $status, not refused naming it" "$work/err"
  quirk "an immutable table, undone" "$S1"
  uninstall_game && quirk "an immutable table, undone once it is not" "$S0"
fi
echo "game folder: a left lock file, a short name's shape, a 255-byte name, an immutable table"

# An undo that fails at the same step again and again never grows the record.
rm -rf "$game" && cp -a "$work/game1" "$game"
record=$(find "$game/headlink-backups" -name record.txt)
sizes=""
for k in 1 2 3; do
  strace -f -qq -o /dev/null -e trace=rename -e inject=rename:error=EIO:when=2 \
    "$headlink" --game "$game" --uninstall >/dev/null 2>"$work/err"
  sizes="$sizes $(wc -c <"$record")"
done
runs=$((runs + 1))
[ "$(echo $sizes | tr ' ' '\n' | sort -u | wc -l)" = 1 ] || fail "an undo failing three times" "the record grew:$sizes" "$work/err"
uninstall_game && [ "$(snap "$game")" = "$S0" ] || fail "an undo failing three times" "then undone, not as before" "$work/err"

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
