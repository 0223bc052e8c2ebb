#!/usr/bin/env bash
# The many-sites playbook (contrib/ansible/find-devices.yml) with
# ansible-playbook against two sites, each a private pair of network
# namespaces (scripts/netns-lab.sh) with its own simulated devices. Each
# site's host is reached by a local connection and `ip netns exec`, and runs
# pathlume-cli on its default endpoints there. The merged JSON and CSV must
# list every device once with its own site; a third site that cannot be
# entered must fail the run, be named, and leave the others' devices written.
# Needs root and ansible-playbook; skips (77) without, unless
# PATHLUME_REQUIRE_ANSIBLE=1 (CI), where a missing ansible-playbook fails.
#   ansible_sites_e2e.sh CLI DEVSIM SOURCE_DIR
set -euo pipefail
cli="$(realpath "$1")"
devsim="$2"
src="$3"
playbook="$src/contrib/ansible/find-devices.yml"

if ! command -v ansible-playbook >/dev/null; then
  if [ "${PATHLUME_REQUIRE_ANSIBLE:-0}" = 1 ]; then
    echo "FAILED: ansible-playbook is not installed (PATHLUME_WITH_ANSIBLE=1 scripts/setup.sh)"
    exit 1
  fi
  echo "skipped: ansible-playbook is not installed"
  exit 77
fi

north="pan$$"
south="pas$$"
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

# Each site's devices, named here so that the test knows where each one is.
# One host name holds a comma and quotes, which CSV must quote.
cat >"$work/north.txt" <<'EOF'
[device]
SERIAL_NUM = SN10000001
MAC = 02C0EE000101
HOST_NAME = lobby, "east"
[device]
SERIAL_NUM = SN10000002
MAC = 02C0EE000102
HOST_NAME = north-2
EOF
cat >"$work/south.txt" <<'EOF'
[device]
SERIAL_NUM = SN20000001
MAC = 02C0EE000201
HOST_NAME = south-1
[device]
SERIAL_NUM = SN20000002
MAC = 02C0EE000202
HOST_NAME = south-2
[device]
SERIAL_NUM = SN20000003
MAC = 02C0EE000203
HOST_NAME = south-3
EOF
for site in north south; do
  t=${!site}
  ip netns exec "${t}d" "$devsim" --config "$work/$site.txt" --time-limit 90 \
    >"$work/$site.log" 2>&1 &
  pids+=($!)
done
sleep 0.5

# inventory FILE [SITE NAMESPACE]...: one site group per pair, each with one
# host entered through `ip netns exec`.
inventory() {
  local file="$1"
  shift
  {
    echo "pathlume_sites:"
    echo "  vars:"
    echo "    ansible_connection: local"
    echo "    ansible_python_interpreter: $(command -v python3)"
    echo "    pathlume_cli: $cli"
    echo "    pathlume_timeout: 1"
    echo "  children:"
    while [ $# -gt 0 ]; do
      echo "    $1:"
      echo "      hosts:"
      echo "        $1-probe:"
      echo "          pathlume_exec_prefix: [ip, netns, exec, $2]"
      shift 2
    done
  } >"$file"
}

export ANSIBLE_CONFIG="$work/ansible.cfg" ANSIBLE_HOME="$work/ansible-home"
export ANSIBLE_LOCAL_TEMP="$work/tmp" ANSIBLE_REMOTE_TMP="$work/tmp"
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0
: >"$ANSIBLE_CONFIG"

# play NAME INVENTORY: the playbook, its output in $work/NAME.{json,csv,log}
play() {
  local rc=0 start
  start=$(date +%s%N)
  timeout 120 ansible-playbook -i "$2" "$playbook" -e "pathlume_output=$work/$1" \
    >"$work/$1.log" 2>&1 || rc=$?
  echo "$1: ansible-playbook exit $rc after $(( ($(date +%s%N) - start) / 1000000 )) ms"
  return "$rc"
}

# The merged inventory against the devices each site was given: the JSON's
# (site, serial, mac, host name) rows and the CSV's, every field of the JSON
# in the CSV, CR LF line ends.
cat >"$work/verify.py" <<'EOF'
import csv, io, json, re, sys
out, sites = sys.argv[1], sys.argv[2:]
want = set()
for site in sites:
    serial = mac = None
    for line in open(f"{out.rsplit('/', 1)[0]}/{site}.txt"):
        key, _, value = (part.strip() for part in line.partition("="))
        if key == "SERIAL_NUM": serial = value
        if key == "MAC": mac = value
        if key == "HOST_NAME": want.add((site, serial, mac, value))
devices = json.load(open(out + ".json"))
got = {(d["site"], d["serial"], d["mac"], d["host_name"]) for d in devices}
ok = True
if got != want or len(devices) != len(want):
    print("JSON:", sorted(got), "want:", sorted(want)); ok = False
raw = open(out + ".csv", newline="").read()
if re.search(r"(?<!\r)\n", raw):
    print("CSV has a line end other than CR LF"); ok = False
rows = list(csv.DictReader(io.StringIO(raw, newline="")))
if [{k: str(v) for k, v in d.items()} for d in devices] != [
        {k: r[k] for k in d} for r, d in zip(rows, devices)] or len(rows) != len(devices):
    print("CSV rows differ from the JSON:", rows); ok = False
sys.exit(0 if ok else 1)
EOF

inventory "$work/two.yml" north "${north}h" south "${south}h"
status=0
play two "$work/two.yml" || status=$?
check "the two-site run succeeds" [ "$status" -eq 0 ]
check "the merged inventory lists every device with its site" \
  python3 "$work/verify.py" "$work/two" north south

# A third site whose host cannot be entered: named, the run fails, and the
# sites that answered are still written.
inventory "$work/three.yml" north "${north}h" east "pax$$h" south "${south}h"
status=0
play three "$work/three.yml" || status=$?
check "a site that fails fails the run" [ "$status" -ne 0 ]
check "the failed site is named" grep -q "No devices from east (east-probe): .*pax$$h" \
  "$work/three.log"
check "the other sites' devices are still written" \
  python3 "$work/verify.py" "$work/three" north south

for f in two.log three.log north.log south.log; do echo "--- $f"; cat "$work/$f"; done
echo "--- two.json"
cat "$work/two.json"
echo "--- two.csv"
cat "$work/two.csv"
[ "$failures" -eq 0 ]
