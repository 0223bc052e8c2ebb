#!/usr/bin/env bash
# pathlume-cli's bash completion and manual page against the program itself:
# the commands, options, --format values and writable keys that --help names
# are exactly those that the completion offers, and each has its entry in
# pathlume-cli(1); then what the completion offers for typical lines.
#   cli_docs_test.sh CLI SOURCE_DIR
set -uo pipefail
cli="$1"
src="$2"
completion="$src/packaging/completion/pathlume-cli.bash"
man="$src/packaging/man/pathlume-cli.1.in"
fails=0
bad() { echo "FAIL: $*"; fails=$((fails + 1)); }

# shellcheck source=/dev/null
source "$completion" || { echo "FAIL: cannot source $completion"; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# complete LINE: what the completion offers with the cursor at the line's end,
# sorted, one line; bash's own word breaks.
complete_line() {
  COMP_LINE=$1
  COMP_POINT=${#1}
  COMP_WORDBREAKS=$' \t\n"\'><=;|&(:'
  COMPREPLY=()
  _pathlume_cli
  printf '%s\n' "${COMPREPLY[@]}" | words
}
# words: the words of the input, sorted, once each, on one line.
words() { tr -s ' \t\n' '\n\n\n' | sed '/^$/d' | sort -u | paste -sd ' '; }

help="$("$cli" --help)"
# The sections of --help: "Commands:" lines start with two spaces and the
# command; "Writable keys" lines with two spaces and KEY[, KEY]... .
section() { awk -v head="$1" 'index($0, head) == 1 { on = 1; next } /^$/ { on = 0 } on'; }
help_commands="$(section 'Commands:' <<<"$help" | grep -Eo '^  [a-z]+' | words)"
help_keys="$(section 'Writable keys' <<<"$help" | grep -E '^  [A-Z]' |
             sed -E 's/^  //; s/   +.*//; s/ {2,}.*//' | tr ',' ' ' | words)"
help_options="$(sed '/^For testing only/,$d' <<<"$help" | grep -Eo -- '--[a-z][a-z-]*' | words)"
[ -n "$help_commands" ] && [ -n "$help_keys" ] && [ -n "$help_options" ] ||
  bad "could not read the commands, keys and options from --help"

# The completion offers exactly what --help names.
offered_commands="$(complete_line 'pathlume-cli ')"
[ "$offered_commands" = "$help_commands" ] ||
  bad "commands: --help has '$help_commands', the completion '$offered_commands'"
offered_keys="$(complete_line 'pathlume-cli set DEV ' | sed 's/=//g')"
[ "$offered_keys" = "$help_keys" ] ||
  bad "keys: --help has '$help_keys', the completion '$offered_keys'"
offered_options="$(for c in $help_commands; do complete_line "pathlume-cli $c --"; done | words)"
[ "$offered_options" = "$help_options" ] ||
  bad "options: --help has '$help_options', the completion '$offered_options'"
for c in $help_commands; do
  usage="$(grep -Eo "^  $c [^-]*\[--format [a-z|]+\]" <<<"$help" | sed -E 's/.*--format //; s/[]|]/ /g')"
  want="$(words <<<"$usage")"
  got="$(complete_line "pathlume-cli $c DEV --format ")"
  if [ -n "$want" ]; then
    [ "$got" = "$want" ] || bad "$c --format: --help has '$want', the completion '$got'"
  fi
done

# Every command, option and key has its own .TP entry in the manual page
# (roff writes - as \-).
tags="$(sed 's/\\-/-/g' "$man" | awk 'prev == ".TP" { print } { prev = $0 }')"
for word in $help_commands $help_options $help_keys; do
  grep -Eq -- "(^|[^A-Za-z_-])$word([^A-Za-z_-]|\$)" <<<"$tags" ||
    bad "pathlume-cli(1) has no entry for $word"
done

# What the completion offers for typical lines.
touch "$work/lobby.txt" "$work/lab.txt" "$work/other.cfg"
cases=(
  "pathlume-cli f|find"
  "pathlume-cli --timeout 5 |apply diff find get help history load restore save set"
  "pathlume-cli --timeout 5 find --f|--format"
  "pathlume-cli find --format |csv json table"
  "pathlume-cli get 02:C0:EE:32:E4:00 --format |json text"
  "pathlume-cli get |"
  "pathlume-cli set SN1 HOST_NAME=lobby EN|ENET_SPD="
  "pathlume-cli set SN1 DHCP=|0 1 Disable Enable"
  "pathlume-cli set SN1 DHCP=E|Enable"
  "pathlume-cli set SN1 ENET_SPD=|0 1 2 3 4"
  "pathlume-cli set SN1 IP=|"
  "pathlume-cli set SN1 --d|--dry-run"
  "pathlume-cli find --d|"
  "pathlume-cli --timeout |"
  "pathlume-cli --interface l|lo"
  "pathlume-cli load SN1 $work/l|$work/lab.txt $work/lobby.txt"
  "pathlume-cli save --timeout 1 SN1 $work/o|$work/other.cfg"
  "pathlume-cli save SN1 $work/lobby.txt |"
  "pathlume-cli help |apply diff find get help history load restore save set"
  "pathlume-cli find --format=j|json"
  "pathlume-cli set SN1 DHCP=1 --format |json text"
  "pathlume-cli load SN1 f --w|--with-identity"
  "pathlume-cli set -- SN1 --|"
  "pathlume-cli history --format |json table"
  "pathlume-cli restore SN1 --e|--entry"
  "pathlume-cli restore SN1 --entry |"
  "pathlume-cli restore SN1 --entry 3 --format |json text"
  "pathlume-cli history SN1 --e|"
  "pathlume-cli d|diff"
  "pathlume-cli diff SN1 $work/l|$work/lab.txt $work/lobby.txt"
  "pathlume-cli diff $work/lab.txt $work/o|$work/other.cfg"
  "pathlume-cli diff SN1 f --format |json table"
  "pathlume-cli apply $work/l|$work/lab.txt $work/lobby.txt"
  "pathlume-cli apply f --a|--all"
  "pathlume-cli apply f --match |DEV= HOST_NAME= IP_CUR= MAC= SERIAL_NUM= VER="
  "pathlume-cli apply f --match=S|SERIAL_NUM="
  "pathlume-cli apply f --match DEV=NP|"
  "pathlume-cli apply f SN1 |"
  "pathlume-cli apply f --all --format |json table"
  "pathlume-cli get SN1 --m|"
)
for c in "${cases[@]}"; do
  line=${c%%|*}
  want=${c#*|}
  got="$(complete_line "$line")"
  [ "$got" = "$want" ] || bad "'$line' offers '$got', not '$want'"
done

echo "$((${#cases[@]} + 5)) checks, $fails failed"
[ "$fails" -eq 0 ]
