#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpus (tests/fuzz/corpus/<target>/seed-*):
genuine Find and GetConfig replies as devices send them, and the damaged
forms the receive path has met (cut, without terminator, header only).
Beside the seeds live the inputs that once failed (crash-*) and a minimised
set of the inputs the fuzzer found that reach new code (cov-*, from
libFuzzer's -merge=1); this script never touches them."""
import os
import struct

KEYS = [("DEV", 16), ("VER", 16), ("MAC", 12), ("ENET_SPD", 1), ("IP_CUR", 15), ("DHCP", 1),
        ("IP", 15), ("SUBNET_MASK", 15), ("GATEWAY", 15), ("IP_DFLT", 15),
        ("SNMP_SERVER", 16), ("SNMP_COMMUNITY", 16), ("SNMP_PORT", 5), ("SNMP_USER", 16),
        ("SNMP_PASSWORD", 16), ("PRNT_PORT", 5), ("PRNT_RCV_TMO", 5), ("MANUFACTURER", 32),
        ("HOST_NAME", 32), ("SERIAL_NUM", 16)]
WIDTH = dict(KEYS)
END = b"*END* = \r\n"
MAGIC = bytes([0x00, 0x0D, 0xAC, 0x00, 0x0D, 0xAC])


def line(key, value):
    return key.encode() + b" = " + value.encode().ljust(WIDTH[key], b" ") + b"\r\n"


def device(n, mac="02C0EE0000%02X", serial="SN%04d"):
    return {
        "DEV": "NP-2400", "VER": "1.02.%d" % n, "MAC": mac % n if "%" in mac else mac,
        "ENET_SPD": str(n % 5), "IP_CUR": "192.168.77.%d" % (10 + n), "DHCP": "0",
        "IP": "192.168.77.%d" % (10 + n), "SUBNET_MASK": "255.255.255.0",
        "GATEWAY": "192.168.77.1", "IP_DFLT": "192.168.77.250", "SNMP_SERVER": "192.168.77.5",
        "SNMP_COMMUNITY": "public", "SNMP_PORT": "161", "SNMP_USER": "admin",
        "SNMP_PASSWORD": "", "PRNT_PORT": "9100", "PRNT_RCV_TMO": "90",
        "MANUFACTURER": "Ostrander Print", "HOST_NAME": "print-%02d" % n,
        "SERIAL_NUM": serial % n if "%" in serial else serial,
    }


FIND_KEYS = ["DEV", "VER", "MAC", "IP_CUR", "HOST_NAME", "SERIAL_NUM"]


def records(dev, keys):
    return b"".join(line(k, dev[k]) for k in keys) + END


def frame(cmd, body):
    return MAGIC + b"\xff" + struct.pack("<I", cmd) + body


def datagrams(*frames):
    return b"".join(struct.pack("<H", len(f)) + f for f in frames)


def main():
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    asked = device(1, mac="02C0EE000001", serial="SN0001")
    all_keys = [k for k, _ in KEYS]
    find = [records(device(n), FIND_KEYS) for n in range(1, 4)]
    config = records(asked, all_keys)
    seeds = {
        "fuzz_receive": {
            "find-three": datagrams(*(frame(1, f) for f in find)),
            "config-asked": datagrams(frame(2, config)),
            "config-stranger": datagrams(frame(2, records(device(1, mac="02C0EE000001", serial="SN9"), all_keys))),
            "header-only": datagrams(frame(1, END), frame(1, find[0])),
            "no-terminator": datagrams(frame(1, find[0][:-len(END)]), frame(1, find[1])),
            "cut": datagrams(frame(1, find[0][:40]), frame(1, find[2])),
            "junk-around": datagrams(b"\x00\x0d\xac\x00" + b"junk", frame(1, find[1]), MAGIC),
            "eleven": datagrams(*(frame(1, records(device(n), FIND_KEYS)) for n in range(1, 12))),
        },
        "fuzz_parse": {
            "find": b"\x0c02C0EE000002" + find[1] + b"\x00",
            "config": b"\x0c02C0EE000001" + config + b"\x00",
            "no-mac": b"\x00" + config + b"\x00",
            "end-only": b"\x00" + END + b"\x00",
            "value-swallows-end": b"\x00" + b"DEV = ab" + END + b"\x00",
        },
        "fuzz_record_line": {
            "mac": b"\x02\x0c" + line("MAC", "02C0EE000001") + b"\x00",
            "host": b"\x12\x20" + line("HOST_NAME", "print-01") + b"\x00",
            "short": b"\x00\x10DEV = NP\x00",
            "own-key": b"\x84\x05KEY\x00" + b"KEY = 12345\r\n\x00",
            "negative-width": b"\x02\xf0" + line("MAC", "02C0EE000001") + b"\x00",
        },
    }
    ec = b""
    for k, w in KEYS:
        ec += bytes([all_keys.index(k), w]) + asked[k].encode().ljust(w, b" ")[:w]
    seeds["fuzz_editconfig"] = {
        "full": ec + b"10.1.2.3\x00",
        "odd-addresses": bytes([6, 15]) + b"0x7f.1".ljust(15) + bytes([7, 15]) + b"255.255.255.256" +
                         bytes([8, 15]) + b"010.010.010.010" + bytes([3, 1]) + b"9" + bytes([5, 1]) + b"-" +
                         bytes([15, 5]) + b"99999" + bytes([16, 5]) + b"00029" + b"1.2.3\x00",
        "empty-key-first": bytes([20, 4]) + b"abcd" + ec,
    }
    for target, files in seeds.items():
        d = os.path.join(here, target)
        os.makedirs(d, exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(d, "seed-" + name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
