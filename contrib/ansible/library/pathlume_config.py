#!/usr/bin/python3
# Ansible module: one device's settings through pathlume-cli.
#
# Runs `pathlume-cli apply FILE DEVICE --format json` on the managed host
# (with --dry-run in check mode) and reports what it changed. Python's
# standard library and Ansible's own module support only.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: pathlume_config
short_description: Bring one print-server interface's settings to the values given
description:
  - Writes the given settings to one device with C(pathlume-cli apply) on the
    managed host, which must be on the device's network and have pathlume-cli
    installed.
  - The device is read first and only the values that differ are written, then
    it is read again and every written value checked; each write is recorded in
    pathlume-cli's journal on the managed host (C(pathlume-cli history) lists it,
    C(pathlume-cli restore) undoes it).
  - Values are compared by value, as pathlume-cli's write check compares them,
    addresses as four numbers, numbers as numbers, texts without trailing blanks.
    So C(PRNT_RCV_TMO=0300) on a device that holds C(300) is no change.
  - Reports C(changed) only when a value changed. In check mode nothing is
    written and the values that would change are reported. In diff mode the
    changed keys are shown before and after.
  - Fails with pathlume-cli's message when a value is refused, when the device
    does not take a value or does not answer, or when two devices answer to the
    name given.
version_added: "1.0.0"
author:
  - Pathlume developers
options:
  device:
    description:
      - The device as pathlume-cli names it; a serial number, a MAC address
        (12 hexadecimal digits, with or without C(:) or C(-)), or C(SERIAL@MAC),
        which names it without a Find.
    type: str
    required: true
  settings:
    description:
      - The values to hold, by key; the keys in any letter case.
      - Writable keys are C(HOST_NAME), C(ENET_SPD), C(DHCP), C(IP),
        C(SUBNET_MASK), C(GATEWAY), C(PRNT_PORT) and C(PRNT_RCV_TMO), each
        checked by the rules of C(pathlume-cli set).
      - C(DHCP) and C(ENET_SPD) take their code or their text
        (C(DHCP=Enable) or C(DHCP=1)); C(true) and C(false) are C(1) and C(0).
    type: dict
    required: true
  interface:
    description:
      - Send on this network interface only (a name or an IPv4 address);
        by default requests go out on every broadcast interface.
    type: str
  timeout:
    description:
      - The requests' timeout in seconds, 0 to 120, as C(--timeout) of pathlume-cli.
    type: int
    default: 3
  executable:
    description:
      - The pathlume-cli program on the managed host.
    type: str
    default: pathlume-cli
  command_prefix:
    description:
      - A command that pathlume-cli runs under, for example
        C([ip, netns, exec, lab]).
    type: list
    elements: str
    default: []
notes:
  - Supports check mode and diff mode.
  - The requests are UDP broadcasts on port 22093 from the managed host; they
    do not cross routers, so run the task on a host of the device's network.
seealso:
  - name: pathlume-cli(1)
    description: The program this module runs, its keys and their rules.
"""

EXAMPLES = r"""
- name: The site standard on one printer
  pathlume_config:
    device: SN10000001
    settings:
      PRNT_RCV_TMO: 600
      SUBNET_MASK: 255.255.255.0
      GATEWAY: 10.20.0.1
      DHCP: Disable

- name: A printer named without a Find, on the printers' network only
  pathlume_config:
    device: SN10000001@02:C0:EE:00:01:01
    settings:
      HOST_NAME: lobby-east
    interface: eth1
    timeout: 5

- name: Every printer a site's find lists
  pathlume_config:
    device: "{{ item.serial }}@{{ item.mac }}"
    settings: "{{ pathlume_standard }}"
  loop: "{{ (found.stdout | from_json) }}"
  loop_control:
    label: "{{ item.serial }}"
"""

RETURN = r"""
changed:
  description: Whether a value was written (in check mode, whether one would be).
  returned: always
  type: bool
outcome:
  description:
    - What pathlume-cli reported for the device. C(changed), C(already so) or, in
      check mode, C(would change); a failure's outcome is C(not taken),
      C(no answer) or C(refused).
  returned: always
  type: str
  sample: changed
serial:
  description: The device's serial number.
  returned: when the device answered
  type: str
  sample: SN10000001
mac:
  description: The device's MAC address, 12 upper-case hexadecimal digits.
  returned: when the device answered
  type: str
  sample: 02C0EE000101
changes:
  description: Each value that changed (or would change), as the device had it and as written.
  returned: always
  type: list
  elements: dict
  sample: [{"key": "PRNT_RCV_TMO", "before": "90", "after": "600"}]
not_taken:
  description: The keys the device did not take; the task then fails.
  returned: always
  type: list
  elements: str
  sample: []
cmd:
  description: The command that was run.
  returned: always
  type: list
  elements: str
stderr:
  description: What pathlume-cli said on standard error (progress and messages).
  returned: always
  type: str
"""

import json
import os
import tempfile

from ansible.module_utils.basic import AnsibleModule


def escape(value):
    """A value as a settings file holds it: the escapes load reads back."""
    out = []
    for byte in value.encode("utf-8"):
        c = chr(byte)
        if c == "\\":
            out.append("\\\\")
        elif c == "\r":
            out.append("\\r")
        elif c == "\n":
            out.append("\\n")
        elif c == "\t":
            out.append("\\t")
        elif byte < 0x20 or byte >= 0x7F:
            out.append("\\x%02x" % byte)
        else:
            out.append(c)
    return "".join(out)


def value_text(value):
    if isinstance(value, bool):
        return "1" if value else "0"
    return str(value)


def settings_text(settings):
    lines = ["# pathlume_config\n"]
    for key in sorted(settings):
        lines.append("%s = %s\n" % (str(key).upper(), escape(value_text(settings[key]))))
    return "".join(lines)


def message_of(stderr, row):
    """pathlume-cli's own words: the device's message, else its last line on standard error."""
    if row and row.get("message"):
        return row["message"]
    lines = [l for l in stderr.splitlines() if l.strip()]
    if not lines:
        return "pathlume-cli failed"
    last = lines[-1]
    return last[len("pathlume-cli: "):] if last.startswith("pathlume-cli: ") else last


def diff_text(changes, side):
    return "".join("%s = %s\n" % (c["key"], c[side]) for c in changes)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            device=dict(type="str", required=True),
            settings=dict(type="dict", required=True),
            interface=dict(type="str"),
            timeout=dict(type="int", default=3),
            executable=dict(type="str", default="pathlume-cli"),
            command_prefix=dict(type="list", elements="str", default=[]),
        ),
        supports_check_mode=True,
    )
    p = module.params
    if not p["settings"]:
        module.fail_json(msg="settings holds no key")
    if not 0 <= p["timeout"] <= 120:
        module.fail_json(msg="timeout takes whole seconds from 0 to 120")

    fd, path = tempfile.mkstemp(prefix="pathlume-", suffix=".txt")
    try:
        with os.fdopen(fd, "w", encoding="ascii") as f:
            f.write(settings_text(p["settings"]))
        options = ["--format", "json", "--quiet", "--timeout", str(p["timeout"])]
        if p["interface"]:
            options += ["--interface", p["interface"]]
        if module.check_mode:
            options.append("--dry-run")
        # "--" ends the options: a device name starting with '-' stays a name.
        cmd = (list(p["command_prefix"]) + [p["executable"], "apply"] + options +
               [path, "--", p["device"]])
        rc, stdout, stderr = module.run_command(cmd)
    finally:
        os.unlink(path)

    result = dict(changed=False, outcome="", changes=[], not_taken=[], cmd=cmd, stderr=stderr, rc=rc)
    row = None
    try:
        devices = json.loads(stdout)["devices"]
        row = devices[0] if devices else None
    except (ValueError, KeyError, TypeError, IndexError):
        row = None
    if row:
        result.update(
            outcome=row.get("outcome", ""),
            serial=row.get("serial", ""),
            mac=row.get("mac", ""),
            changes=row.get("changes", []),
            not_taken=row.get("not_taken", []),
        )
        # A write that went out changed the device, whatever its check found.
        result["changed"] = bool(row.get("written")) or (
            module.check_mode and row.get("outcome") == "would change")
        if result["changes"] and module._diff:
            name = "%s (%s)" % (row.get("serial", ""), row.get("mac", ""))
            result["diff"] = dict(
                before=diff_text(result["changes"], "before"),
                after=diff_text(result["changes"], "after"),
                before_header=name,
                after_header=name,
            )
    if rc != 0 or row is None:
        msg = message_of(stderr, row)
        # "FILE:LINE: KEY: why" of the settings file written here: the key and why.
        if msg.startswith(path + ":"):
            msg = msg[len(path) + 1:].partition(": ")[2] or msg
        module.fail_json(msg=msg, **result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
