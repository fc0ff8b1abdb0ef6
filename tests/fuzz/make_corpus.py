#!/usr/bin/env python3
"""Writes the starting corpus of the reply handler's fuzz target: valid replies of every class,
frames the handler must ignore, and truncated captures around the 50- and 120-byte limits."""
import os
import struct
import sys

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def header(cls, code, dst=b"\xff" * 6):
    eth = dst + bytes.fromhex("021c2d000001") + b"\x08\x00"
    ip = bytes.fromhex("4500007a232e00008011") + b"\x00\x00" + bytes([192, 168, 1, 50]) + bytes(
        [192, 168, 1, 100])
    udp = struct.pack(">HHHH", 2098, 2098, 0x66, 0)
    tfdp = struct.pack(">HHHH", 0x1888, 1, cls, code) + b"\x42\x00\x00\x00"
    return eth + ip + udp + tfdp


def record(name, mac_last, kind, mode, peer=b"\0" * 4, b1=b"\0" * 4, b2=b"\0" * 4,
           t1=b"\0" * 6, t2=b"\0" * 6, t3=b"\0" * 6):
    r = name.ljust(16, b"\0")[:16]
    r += struct.pack(">HH", 0x0012, 0x0001) + b"\0\0"
    r += bytes([192, 168, 1, 50 + mac_last]) + bytes([0x02, 0, 0, 0, 0, mac_last])
    r += struct.pack(">HH", kind, mode) + peer + b1 + b2 + t1 + t2 + t3
    assert len(r) == 66
    return r


def pad(frame, length=128):
    return frame.ljust(length, b"\0")


def main():
    os.makedirs(OUT, exist_ok=True)
    seeds = {}
    rx_mac = bytes.fromhex("020000000002")
    seeds["discovery_unicast_tx"] = pad(header(0x8001, 1) + record(
        b"STUDIO4", 1, 1, 1, peer=bytes([192, 168, 1, 51]), b1=bytes([192, 168, 1, 52]),
        t1=rx_mac))
    seeds["discovery_multicast_tx"] = pad(header(0x8001, 1) + record(b"HALL", 3, 1, 0))
    seeds["discovery_receiver"] = pad(header(0x8001, 1) + record(
        b"ABCDEFGHIJKLMNOP", 2, 0, 1, peer=bytes([192, 168, 1, 51]),
        t1=bytes.fromhex("020000000001")))
    seeds["discovery_kind2"] = pad(header(0x8001, 1) + record(b"\xe9t\xe9", 4, 2, 7))
    seeds["discovery_code2"] = pad(header(0x8001, 2) + record(b"X", 5, 1, 0))
    seeds["discovery_exact_120"] = header(0x8001, 1) + record(b"EXACT", 6, 0, 0)
    seeds["discovery_short_119"] = (header(0x8001, 1) + record(b"SHORT", 7, 0, 0))[:119]
    for code in range(0, 6):
        seeds[f"connection_code{code}"] = pad(header(0x8003, code), 64)
    for code in range(0, 8):
        seeds[f"configuration_code{code}"] = pad(header(0x8005, code), 64)
    seeds["configuration_exact_50"] = header(0x8005, 1)[:50]
    seeds["configuration_short_49"] = header(0x8005, 1)[:49]
    seeds["own_discovery_request"] = pad(header(0x0001, 1)[:50])
    seeds["own_add_request"] = pad(header(0x0003, 1) + bytes(22))
    seeds["wrong_magic"] = pad(header(0x8005, 1).replace(b"\x18\x88", b"\x18\x89", 1))
    seeds["arp"] = pad(b"\xff" * 6 + bytes.fromhex("021c2d000009") + b"\x08\x06" +
                       bytes.fromhex("0001080006040001"), 60)
    seeds["empty"] = b""
    # More distinct units than the table holds: replayed in order, they fill it and go past it.
    for n in range(34):
        seeds[f"discovery_fill_{n:02d}"] = pad(header(0x8001, 1) + record(
            b"FILL%d" % n, 0x80 + n, n % 2, 0))
    for name, data in seeds.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
    print(f"wrote {len(seeds)} seeds to {OUT}", file=sys.stderr)


if __name__ == "__main__":
    main()
