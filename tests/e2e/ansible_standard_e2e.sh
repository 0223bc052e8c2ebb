#!/usr/bin/env bash
# The site-standard playbook (contrib/ansible/apply-standard.yml, with the
# pathlume_config module) with ansible-playbook against two sites, each a
# private pair of network namespaces (scripts/netns-lab.sh) with its own
# simulated devices, one of which already holds the standard (written
# differently). A check run changes nothing and shows the would-be changes as
# diffs; a real run reports changed and leaves every device at the standard;
# a second real run changes nothing. ansible-doc renders the module.
# Needs root and ansible-playbook; skips (77) without, unless
# PATHLUME_REQUIRE_ANSIBLE=1 (CI), where a missing ansible-playbook fails.
#   ansible_standard_e2e.sh CLI DEVSIM SOURCE_DIR
set -euo pipefail
cli="$(realpath "$1")"
devsim="$2"
src="$3"
playbook="$src/contrib/ansible/apply-standard.yml"

if ! command -v ansible-playbook >/dev/null; then
  if [ "${PATHLUME_REQUIRE_ANSIBLE:-0}" = 1 ]; then
    echo "FAILED: ansible-playbook is not installed (PATHLUME_WITH_ANSIBLE=1 scripts/setup.sh)"
    exit 1
  fi
  echo "skipped: ansible-playbook is not installed"
  exit 77
fi

north="psn$$"
south="pss$$"
work="$(mktemp -d)"
. "$(dirname "$0")/../support/e2e.sh"
pids=()
labs=()
cleanup() {
  end_pids "${pids[@]}"
  for t in "${labs[@]}"; do "$lab" down "$t"; done
  rm -rf "$work"
}
trap cleanup EXIT

for t in "$north" "$south"; do
  lab_up "$t"
  labs+=("$t")
done

# SN20000002 holds the standard already, written differently.
cat >"$work/north.txt" <<'EOF'
[device]
SERIAL_NUM = SN10000001
MAC = 02C0EE000101
PRNT_RCV_TMO = 90
DHCP = 1
[device]
SERIAL_NUM = SN10000002
MAC = 02C0EE000102
GATEWAY = 10.20.0.254
EOF
cat >"$work/south.txt" <<'EOF'
[device]
SERIAL_NUM = SN20000001
MAC = 02C0EE000201
SUBNET_MASK = 255.255.0.0
[device]
SERIAL_NUM = SN20000002
MAC = 02C0EE000202
PRNT_RCV_TMO = 0600
SUBNET_MASK = 255.255.255.000
GATEWAY = 010.020.000.001
DHCP = 0
EOF
cat >"$work/standard.yml" <<'EOF'
pathlume_standard:
  prnt_rcv_tmo: 600
  SUBNET_MASK: 255.255.255.0
  GATEWAY: 10.20.0.1
  DHCP: Disable
EOF
for site in north south; do
  t=${!site}
  ip netns exec "${t}d" "$devsim" --config "$work/$site.txt" --state-file "$work/$site.state" \
    --time-limit 150 >"$work/$site.log" 2>&1 &
  pids+=($!)
done
sleep 0.5

cat >"$work/inventory.yml" <<EOF
pathlume_sites:
  vars:
    ansible_connection: local
    ansible_python_interpreter: $(command -v python3)
    pathlume_cli: $cli
    pathlume_timeout: 1
  children:
    north:
      hosts:
        north-probe:
          pathlume_exec_prefix: [ip, netns, exec, ${north}h]
    south:
      hosts:
        south-probe:
          pathlume_exec_prefix: [ip, netns, exec, ${south}h]
EOF

export ANSIBLE_CONFIG="$work/ansible.cfg" ANSIBLE_HOME="$work/ansible-home"
export ANSIBLE_LOCAL_TEMP="$work/tmp" ANSIBLE_REMOTE_TMP="$work/tmp"
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0
# Each write's journal in the test's folder.
export XDG_STATE_HOME="$work/state"
: >"$ANSIBLE_CONFIG"

# play NAME ARGS...: the playbook, its output in $work/NAME.log
play() {
  local name="$1" rc=0
  shift
  timeout 120 ansible-playbook -i "$work/inventory.yml" "$playbook" -e "@$work/standard.yml" \
    "$@" >"$work/$name.log" 2>&1 || rc=$?
  echo "$name: ansible-playbook exit $rc"
  return "$rc"
}
# changed HOST LOG: the recap's changed count of the host
changed() { sed -nE "s/^$1 +: ok=[0-9]+ +changed=([0-9]+).*/\\1/p" "$2"; }

# at_standard STATE...: every device in the simulators' state files holds the standard.
cat >"$work/verify.py" <<'EOF'
import ipaddress, sys
want = {"PRNT_RCV_TMO": 600, "SUBNET_MASK": "255.255.255.0", "GATEWAY": "10.20.0.1", "DHCP": 0}
ok, devices = True, 0
for path in sys.argv[1:]:
    blocks = open(path).read().split("[device]")[1:]
    for block in blocks:
        devices += 1
        values = dict(l.split(" = ", 1) for l in block.strip().splitlines() if " = " in l)
        for key, value in want.items():
            got = values.get(key, "")
            if isinstance(value, int):
                same = got.isdigit() and int(got) == value
            else:
                same = [int(p) for p in got.split(".")] == [int(p) for p in value.split(".")]
            if not same:
                print(f"{values.get('SERIAL_NUM')}: {key} = {got}, not {value}"); ok = False
sys.exit(0 if ok and devices == 4 else 1)
EOF

cp "$work/north.state" "$work/north.before"
cp "$work/south.state" "$work/south.before"
status=0
play check --check --diff || status=$?
check "the check run succeeds" [ "$status" -eq 0 ]
check "the check run changes no device" \
  cmp -s "$work/north.state" "$work/north.before"
check "the check run changes no device (south)" \
  cmp -s "$work/south.state" "$work/south.before"
check "the check run reports would-be changes on both sites" \
  [ "$(changed north-probe "$work/check.log") $(changed south-probe "$work/check.log")" = "1 1" ]
check "the check run shows the values before and after" \
  grep -qx -- "-PRNT_RCV_TMO = 90" "$work/check.log"
check "the check run shows the values after" \
  grep -qx -- "+PRNT_RCV_TMO = 600" "$work/check.log"
check "the check run shows the address that would change" \
  grep -qx -- "+SUBNET_MASK = 255.255.255.0" "$work/check.log"
check "the device at the standard is not in the diff" \
  bash -c "! grep -q 'SN20000002 (02C0EE000202) before' '$work/check.log'"
check "the check run journals nothing" [ ! -s "$work/state/pathlume/writes.jsonl" ]

status=0
play apply --diff || status=$?
check "the real run succeeds" [ "$status" -eq 0 ]
check "the real run reports changed on both sites" \
  [ "$(changed north-probe "$work/apply.log") $(changed south-probe "$work/apply.log")" = "1 1" ]
check "every device holds the standard" python3 "$work/verify.py" "$work/north.state" "$work/south.state"
check "the three writes are journaled" [ "$(wc -l <"$work/state/pathlume/writes.jsonl")" -eq 3 ]

status=0
play again || status=$?
check "the second real run succeeds" [ "$status" -eq 0 ]
check "the second real run changes nothing" \
  [ "$(changed north-probe "$work/again.log") $(changed south-probe "$work/again.log")" = "0 0" ]
check "the second run journals nothing more" [ "$(wc -l <"$work/state/pathlume/writes.jsonl")" -eq 3 ]

# The module alone fails with pathlume-cli's message: a value it refuses, and
# a device that does not take a value (a third simulator on the north site).
cat >"$work/stubborn.txt" <<'EOF'
[device]
SERIAL_NUM = SN10000009
MAC = 02C0EE000109
refuse GATEWAY
EOF
ip netns exec "${north}d" "$devsim" --config "$work/stubborn.txt" --time-limit 60 \
  >"$work/stubborn-sim.log" 2>&1 &
pids+=($!)
sleep 0.5
# module NAME DEVICE SETTINGS: pathlume_config on the north site's host
module() {
  local rc=0
  timeout 60 ansible north-probe -i "$work/inventory.yml" -M "$src/contrib/ansible/library" \
    -m pathlume_config -a "{\"device\": \"$2\", \"settings\": $3, \"timeout\": 1,
      \"executable\": \"$cli\", \"command_prefix\": [\"ip\", \"netns\", \"exec\", \"${north}h\"]}" \
    >"$work/$1.log" 2>&1 || rc=$?
  echo "$1: ansible exit $rc"
  return "$rc"
}
status=0
module refused SN10000001 '{"PRNT_RCV_TMO": 5}' || status=$?
check "a refused value fails the task" [ "$status" -ne 0 ]
check "with pathlume-cli's message" grep -q "PRNT_RCV_TMO: Enter an integer between 30 and 65535." \
  "$work/refused.log"
status=0
module stubborn SN10000009 '{"GATEWAY": "10.20.0.9"}' || status=$?
check "a value the device does not take fails the task" [ "$status" -ne 0 ]
check "and names the key" grep -q "Device did not take: GATEWAY." "$work/stubborn.log"

status=0
ansible-doc -M "$src/contrib/ansible/library" pathlume_config >"$work/doc.txt" 2>&1 || status=$?
check "ansible-doc renders the module" [ "$status" -eq 0 ]
check "ansible-doc shows its options and return values" \
  grep -q "= settings" "$work/doc.txt"
check "ansible-doc shows its return values" grep -q "RETURN VALUES" "$work/doc.txt"

for f in check.log apply.log again.log refused.log stubborn.log north.log south.log; do echo "--- $f"; cat "$work/$f"; done
[ "$failures" -eq 0 ]
