#!/usr/bin/env bash
# The many-sites playbook (contrib/ansible/find-devices.yml) with
# ansible-playbook against three sites, each a private pair of network
# namespaces (scripts/netns-lab.sh): two with their own simulated devices,
# one with none. Each site's host is reached by a local connection and
# `ip netns exec`, and runs pathlume-cli on its default endpoints there. The
# output folder does not exist yet. The merged JSON and CSV must list every
# device once with its own site, the site without devices must be told as
# such and not fail the run; a site whose host cannot be reached (a refused
# connection on loopback) and one whose find fails must fail the run, be
# named with their reasons, and leave the others' devices written. A host
# name beyond ASCII must reach the CSV as pathlume-cli's own CSV writes it.
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
west="paw$$"
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

for t in "$north" "$south" "$west"; do
  lab_up "$t"
  labs+=("$t")
done

# Each site's devices, named here so that the test knows where each one is.
# One host name holds a comma and quotes, which CSV must quote; one a
# Latin-1 byte (e9), which every file holds in UTF-8.
cat >"$work/north.txt" <<'EOF'
[device]
SERIAL_NUM = SN10000001
MAC = 02C0EE000101
HOST_NAME = lobby, "east"
[device]
SERIAL_NUM = SN10000002
MAC = 02C0EE000102
EOF
printf 'HOST_NAME = caf\351\n' >>"$work/north.txt"
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

# play NAME INVENTORY: the playbook, its output in $work/NAME.{json,csv,sites.json},
# its log in $work/BASENAME.log (NAME's folder may not exist before the run)
play() {
  local rc=0 start
  start=$(date +%s%N)
  timeout 120 ansible-playbook -i "$2" "$playbook" -e "pathlume_output=$work/$1" \
    >"$work/${1##*/}.log" 2>&1 || rc=$?
  echo "$1: ansible-playbook exit $rc after $(( ($(date +%s%N) - start) / 1000000 )) ms"
  return "$rc"
}

# The merged inventory against the devices each site was given: the JSON's
# (site, serial, mac, host name) rows and the CSV's, every field of the JSON
# in the CSV, CR LF line ends.
cat >"$work/verify.py" <<'EOF'
import csv, io, json, re, sys
# verify.py OUTPUT SITE=OUTCOME...: the devices of each SITE's file, and the
# outcome each site is recorded with.
out, outcomes = sys.argv[1], dict(a.split("=") for a in sys.argv[2:])
sites = [s for s, o in outcomes.items() if o == "devices"]
want = set()
for site in sites:
    serial = mac = None
    # The device files hold bytes, read as Latin-1 as the devices' are.
    for line in open(f"{sys.argv[0].rsplit('/', 1)[0]}/{site}.txt", encoding="latin-1"):
        key, _, value = (part.strip() for part in line.partition("="))
        if key == "SERIAL_NUM": serial = value
        if key == "MAC": mac = value
        if key == "HOST_NAME": want.add((site, serial, mac, value))
devices = json.load(open(out + ".json", encoding="utf-8"))
got = {(d["site"], d["serial"], d["mac"], d["host_name"]) for d in devices}
ok = True
if got != want or len(devices) != len(want):
    print("JSON:", sorted(got), "want:", sorted(want)); ok = False
raw = open(out + ".csv", newline="", encoding="utf-8").read()
if re.search(r"(?<!\r)\n", raw):
    print("CSV has a line end other than CR LF"); ok = False
rows = list(csv.DictReader(io.StringIO(raw, newline="")))
def flat(d):
    # A device as its CSV row holds it: the sources as three joined lists.
    row = {k: str(v) for k, v in d.items() if k != "sources"}
    for part, name in (("address", "source_address"), ("port", "source_port"),
                       ("interface", "interface")):
        row[name] = ";".join(str(s[part]) for s in d["sources"])
    return row
if any(not d["sources"] for d in devices):
    print("a device without the address it answered from:", devices); ok = False
if [flat(d) for d in devices] != [
        {k: r.get(k) for k in flat(d)} for r, d in zip(rows, devices)] or len(rows) != len(devices):
    print("CSV rows differ from the JSON:", rows); ok = False
report = json.load(open(out + ".sites.json", encoding="utf-8"))
if not re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", str(report.get("time"))):
    print("no time of the run:", report.get("time")); ok = False
got = {r["site"]: r["outcome"] for r in report["sites"]}
if got != outcomes:
    print("outcomes:", got, "want:", outcomes); ok = False
for r in report["sites"]:
    count = sum(1 for d in devices if d["site"] == r["site"])
    if r["devices"] != count or (r["outcome"] in ("unreachable", "failed")) != bool(r["reason"]):
        print("site record:", r, "with", count, "device(s) listed"); ok = False
sys.exit(0 if ok else 1)
EOF

# Three sites, one without a device, into a folder that does not exist yet.
inventory "$work/two.yml" north "${north}h" south "${south}h" west "${west}h"
status=0
play new/folder/two "$work/two.yml" || status=$?
check "a run with an empty site succeeds" [ "$status" -eq 0 ]
check "the merged inventory lists every device with its site, the empty site as such" \
  python3 "$work/verify.py" "$work/new/folder/two" north=devices south=devices west=none
check "the end names each site's outcome" \
  grep -q '"west (west-probe): no device"' "$work/two.log"

# The Latin-1 byte of the north site reaches the playbook's CSV as
# pathlume-cli's own CSV writes it: the same UTF-8 bytes.
ip netns exec "${north}h" timeout 30 "$cli" find --timeout 1 --format csv >"$work/north.csv" || true
check "the CLI's CSV holds the host name in UTF-8" grep -q $',caf\xc3\xa9,' "$work/north.csv"
check "the playbook's CSV holds the same bytes" grep -q $',"caf\xc3\xa9","' "$work/new/folder/two.csv"

# A site whose host refuses the connection (ssh to a closed loopback port)
# and one whose find cannot run (no such namespace): both named with their
# reasons, the run fails, and the sites that answered are still written.
inventory "$work/three.yml" north "${north}h" east "pax$$h" south "${south}h"
cat >>"$work/three.yml" <<EOF
    gone:
      hosts:
        gone-probe:
          ansible_connection: ssh
          ansible_host: 127.0.0.1
          ansible_port: 1
          ansible_ssh_common_args: -o BatchMode=yes -o ConnectTimeout=5
EOF
status=0
play three "$work/three.yml" || status=$?
check "a site that fails fails the run" [ "$status" -ne 0 ]
check "the failed site is named" grep -q "No devices from east (east-probe): .*pax$$h" \
  "$work/three.log"
check "the unreachable site is named with its reason" \
  grep -q '"gone (gone-probe): unreachable, .*refused' "$work/three.log"
check "the other sites' devices are still written, each site's outcome beside them" \
  python3 "$work/verify.py" "$work/three" north=devices south=devices east=failed gone=unreachable

for f in two.log three.log north.log south.log; do echo "--- $f"; cat "$work/$f"; done
echo "--- two.json"
cat "$work/new/folder/two.json"
echo "--- two.sites.json"
cat "$work/new/folder/two.sites.json"
echo "--- two.csv"
cat "$work/new/folder/two.csv"
[ "$failures" -eq 0 ]
