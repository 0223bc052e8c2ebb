#!/usr/bin/env bash
# Slips: would the tests notice a careful colleague's small mistake in the
# code that decides what reaches a device and whether a write counts as
# verified? Each line of tests/slips.txt is one such mistake:
#
#   FILE @@ A FRAGMENT FOUND ONCE IN IT @@ ITS REPLACEMENT @@ WHAT IT MEANS
#
# (\n in a fragment or replacement stands for a line end). A slip must
# build: one whose build fails only by a warning (an unused name) is no
# catch, and is written so that it builds.
#
# For each, the fragment is replaced in a scratch copy of the tree (a
# detached git worktree under /tmp, synced from this tree's files; this
# tree is never edited), the test binaries that link that file are rebuilt
# there, and the non-root suites run, fastest first, until one fails. The
# slip is "caught" when a build or a suite fails (named), "missed" when all
# pass. Then the file is put back. At the end: "N of M slips caught (P %)"
# and the missed ones.
#
#   scripts/slips.sh [--no-baseline] [PATTERN | LINE,LINE...]
#
# PATTERN (grep -E) picks the lines to try, e.g. 'writeplan|rxring'; a list
# of numbers picks those lines of the table.
# --no-baseline skips the run of the suites on the unchanged tree first.
# Long (seconds to minutes per slip, about 25 minutes in all): not part of
# CI. Builds run with -j2, one slip at a time; every build and suite has a
# timeout, and all of one slip's together another; each suite runs in a
# process group of its own that is ended when it ends, so nothing it started
# outlives it. A suite stops at its first failure (--gtest_break_on_failure).
set -uo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
table="$root/tests/slips.txt"
scratch="${PATHLUME_SLIPS_TREE:-/tmp/pathlume-slips}"
build="$scratch/build/test"
build_timeout="${PATHLUME_SLIPS_BUILD_TIMEOUT:-900}"
suite_timeout="${PATHLUME_SLIPS_SUITE_TIMEOUT:-300}"
slip_timeout="${PATHLUME_SLIPS_SLIP_TIMEOUT:-1200}"   # all builds and suites of one slip
log="$scratch/slips.log"

baseline=1
pattern=""
while [ $# -gt 0 ]; do
  case "$1" in
    --no-baseline) baseline=0 ;;
    -h|--help) sed -n '2,29p' "$0"; exit 0 ;;
    -*) echo "slips.sh: unknown option $1" >&2; exit 2 ;;
    *) pattern="$1" ;;
  esac
  shift
done

export CCACHE_BASEDIR="$scratch" CCACHE_DIR="${CCACHE_DIR:-/work/.ccache}" CCACHE_NOHASHDIR=1
export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
export QT_QPA_PLATFORM=offscreen

# The scratch tree: made once, then given this tree's files (committed or
# not) on every run, so that new tests count. Only changed files are
# copied, with a fresh time, so the build redoes what they touch.
if [ ! -e "$scratch/.git" ]; then
  git worktree add --detach "$scratch" HEAD >/dev/null || exit 1
fi
sync_tree() {
  local f
  while IFS= read -r -d '' f; do
    if [ -f "$f" ] && ! cmp -s "$f" "$scratch/$f"; then
      mkdir -p "$scratch/$(dirname "$f")"
      cp "$f" "$scratch/$f"
    fi
  done < <(git ls-files -z --cached --others --exclude-standard)
}
sync_tree
: >"$log"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$scratch" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPATHLUME_WERROR=ON >>"$log" 2>&1 || { echo "slips.sh: configure failed ($log)" >&2; exit 1; }
fi

# The suites that link a file, fastest first.
suites_for() {
  case "$1" in
    protocol/*) echo "protocol_tests cli_tests engine_tests ui_tests" ;;
    tools/cli/*) echo "cli_tests ui_tests" ;;
    tools/devsim/*) echo "engine_tests cli_tests ui_tests" ;;
    ui/*|app/*) echo "ui_tests" ;;
    *) echo "protocol_tests cli_tests engine_tests ui_tests" ;;
  esac
}

# The seconds a step may take: its own limit, within what is left of the slip's.
limit() {
  local left=$((deadline - SECONDS))
  [ "$left" -lt 1 ] && left=1
  [ "$1" -lt "$left" ] && echo "$1" || echo "$left"
}

build_target() {
  local target="$1" extra=""
  [ "$target" = engine_tests ] && extra="pathlume-devsim"
  timeout -k 10 "$(limit "$build_timeout")" cmake --build "$build" -j2 --target "$target" $extra \
    >>"$log" 2>&1
}

# Runs one suite in a process group of its own and ends that group after
# it: a suite that stops at its first failure leaves none of its helpers.
run_suite() {
  local target="$1" pid rc
  (cd "$build/tests" && exec setsid timeout -k 10 "$(limit "$suite_timeout")" "./$target" \
      --gtest_break_on_failure >>"$log" 2>&1) &
  pid=$!
  trap 'kill -- "-$pid" 2>/dev/null; exit 130' INT TERM
  wait "$pid"
  rc=$?
  trap - INT TERM
  kill -- "-$pid" 2>/dev/null
  return "$rc"
}

# "" when every suite passes, else what failed.
try_suites() {
  local suites="$1" s
  for s in $suites; do
    echo "--- build $s" >>"$log"
    if ! build_target "$s"; then
      echo "build of $s"
      return
    fi
    echo "--- run $s" >>"$log"
    run_suite "$s"
    case $? in
      0) ;;
      124|137) echo "$s, out of time"; return ;;
      *) echo "$s"; return ;;
    esac
  done
}

# Whatever stops the run, the slipped file is put back.
restore_slipped() {
  if [ -n "${slipped:-}" ] && [ -f "$slipped.orig" ]; then
    cp "$slipped.orig" "$slipped" && rm -f "$slipped.orig"
  fi
}
trap 'restore_slipped; exit 130' INT TERM

if [ "$baseline" = 1 ]; then
  deadline=$((SECONDS + slip_timeout * 4))
  echo "baseline: building and running the suites on the unchanged tree"
  failed="$(try_suites "protocol_tests cli_tests engine_tests ui_tests")"
  if [ -n "$failed" ]; then
    echo "slips.sh: the unchanged tree already fails ($failed); see $log" >&2
    exit 1
  fi
fi

total=0
caught=0
missed=()
line_no=0
while IFS= read -r line || [ -n "$line" ]; do
  line_no=$((line_no + 1))
  case "$line" in ''|'#'*) continue ;; esac
  if [[ "$pattern" =~ ^[0-9,]+$ ]]; then
    [[ ",$pattern," == *",$line_no,"* ]] || continue
  elif [ -n "$pattern" ] && ! grep -qE -- "$pattern" <<<"$line"; then
    continue
  fi
  IFS=$'\x1f' read -r file fragment replacement meaning \
    <<<"$(sed 's/ @@ /\x1f/g' <<<"$line")"
  if [ -z "$file" ] || [ -z "$fragment" ] || [ -z "$meaning" ]; then
    echo "slips.txt:$line_no: not FILE @@ FRAGMENT @@ REPLACEMENT @@ MEANING" >&2
    continue
  fi
  slipped="$scratch/$file"
  if [ ! -f "$slipped" ]; then
    echo "slips.txt:$line_no: no file $file: skipped" >&2
    continue
  fi
  cp "$slipped" "$slipped.orig"
  # \n in a fragment or its replacement stands for a line end. The
  # fragment must occur exactly once.
  if ! FRAG="$fragment" REPL="$replacement" python3 - "$slipped" <<'EOF'
import os, sys
p = sys.argv[1]
frag = os.environ["FRAG"].replace("\\n", "\n")
repl = os.environ["REPL"].replace("\\n", "\n")
s = open(p, encoding="utf-8").read()
if s.count(frag) != 1:
    sys.stderr.write("the fragment occurs %d times, not once\n" % s.count(frag))
    sys.exit(1)
with open(p, "w", encoding="utf-8") as f:
    f.write(s.replace(frag, repl, 1))
EOF
  then
    echo "slips.txt:$line_no: skipped ($file)" >&2
    rm -f "$slipped.orig"
    continue
  fi
  total=$((total + 1))
  echo "=== slip $line_no: $file: $meaning" >>"$log"
  start=$SECONDS
  deadline=$((SECONDS + slip_timeout))
  failed="$(try_suites "$(suites_for "$file")" </dev/null)"
  # Back as it was, with a fresh time so the next build compiles it again.
  restore_slipped
  if [ -n "$failed" ]; then
    caught=$((caught + 1))
    printf 'caught  %3d  %-28s %s (by %s, %ds)\n' "$line_no" "$file" "$meaning" "$failed" \
      $((SECONDS - start))
  else
    missed+=("$line_no  $file: $meaning")
    printf 'MISSED  %3d  %-28s %s (%ds)\n' "$line_no" "$file" "$meaning" $((SECONDS - start))
  fi
done <"$table"

if [ "$total" = 0 ]; then
  echo "no slip tried"
  exit 1
fi
echo "$caught of $total slips caught ($((caught * 100 / total)) %)"
for m in "${missed[@]}"; do
  echo "  missed: $m"
done
[ "${#missed[@]}" = 0 ]
