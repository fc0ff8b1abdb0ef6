#!/usr/bin/env python3
"""Writes the starting corpora of the fuzz targets: for the reply handler, valid replies of every
class, frames the handler must ignore, and truncated captures around the 50- and 120-byte limits;
for the capture helper's requests, sessions of a caller (each message a 2-byte length and its
bytes); for the installation file, files that apply takes or refuses."""
import json
import os
import struct
import sys

CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


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


def handle_frame_seeds():
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
    return seeds


# ---- the capture helper's requests ----

ADAPTER = "rpcap://fz0"      # the fuzz target's one adapter
ADAPTER_MAC = bytes.fromhex("021800000001")


def message(kind, fields=b""):
    return struct.pack(">IB", 5 + len(fields), kind) + fields


def text(value):
    data = value.encode()
    return struct.pack(">H", len(data)) + data


def request_frame(cls, operation, datagram_end, source=ADAPTER_MAC):
    eth = b"\xff" * 6 + source + b"\x08\x00"
    ip = struct.pack(">BBHHHBBH", 0x45, 0, datagram_end - 14, 0x232e, 0, 0x80, 0x11, 0)
    ip += bytes([198, 18, 0, 1]) + b"\xff" * 4
    udp = struct.pack(">HHHH", 2098, 2098, datagram_end - 34, 0)
    tfdp = struct.pack(">HHHH", 0x1888, 1, cls, operation)
    return pad(eth + ip + udp + tfdp)


def session(*messages):
    return b"".join(struct.pack(">H", len(m)) + m for m in messages)


def capture_request_seeds():
    open_adapter = message(0x02, text(ADAPTER))
    discovery = request_frame(0x0001, 1, 54)
    configuration = request_frame(0x0005, 1, 86)
    connection = request_frame(0x0003, 1, 76)
    fragment = bytearray(discovery)
    fragment[20] = 0x20
    long_lengths = bytearray(discovery)
    long_lengths[16:18] = struct.pack(">H", 114)
    long_lengths[38:40] = struct.pack(">H", 94)
    send = lambda frame: message(0x03, bytes(frame))
    return {
        "list": session(message(0x01)),
        "open": session(open_adapter),
        "open_unlisted": session(message(0x02, text("rpcap://lo"))),
        "open_twice": session(open_adapter, open_adapter),
        "send_unopened": session(send(discovery)),
        "send_each_class": session(open_adapter, send(discovery), send(configuration),
                                   send(connection)),
        "send_refused": session(open_adapter, send(fragment), send(long_lengths),
                                send(discovery[:127]),
                                send(request_frame(0x0001, 1, 54, source=b"\x02" * 6))),
        "drops": session(message(0x04), open_adapter, message(0x04)),
        "length_disagrees": session(message(0x01) + b"\x00"),
        "unknown_type": session(message(0x7f)),
    }


# ---- the installation file ----

def installation_seeds():
    units = {
        "02:18:00:00:01:01": {"name": "HALL", "ip": "198.18.1.11", "kind": "transmitter",
                              "mode": "multicast", "receivers": ["02:18:00:00:02:01"]},
        "02:18:00:00:01:02": {"name": "STAGE", "ip": "198.18.1.12", "kind": "transmitter",
                              "mode": "unicast", "main": "02:18:00:00:02:03",
                              "backup1": "02:18:00:00:02:04", "backup2": None},
        "02:18:00:00:02:01": {"name": "FOYER", "ip": "198.18.1.21", "kind": "receiver",
                              "transmitter": "02:18:00:00:01:01"},
        "02:18:00:00:02:03": {"name": "STAGEL", "ip": "198.18.1.23", "kind": "receiver",
                              "transmitter": "02:18:00:00:01:02"},
        "02:18:00:00:02:04": {"name": "STAGER", "ip": "198.18.1.24", "kind": "receiver",
                              "transmitter": "02:18:00:00:01:02"},
        "02:18:00:00:02:05": {"name": "SPARE", "ip": "198.18.1.25", "kind": "receiver",
                              "transmitter": None},
    }
    document = lambda u: {"format": 1, "kind": "vx418-installation", "adapter": "eth0", "units": u}
    dump = lambda u: json.dumps(document(u), indent=1).encode()
    seeds = {"as_is": dump(units)}
    swapped = json.loads(json.dumps(units))
    swapped["02:18:00:00:02:05"]["ip"], swapped["02:18:00:00:02:03"]["ip"] = (
        "198.18.1.23", "198.18.1.25")
    seeds["address_circle"] = dump(swapped)
    changed = json.loads(json.dumps(units))
    changed["02:18:00:00:01:01"].update({"mode": "unicast", "main": "02:18:00:00:02:05"})
    del changed["02:18:00:00:01:01"]["receivers"]
    changed["02:18:00:00:02:05"]["transmitter"] = "02:18:00:00:01:01"
    changed["02:18:00:00:02:01"]["transmitter"] = None
    changed["02:18:00:00:01:02"]["name"] = "MAIN"
    seeds["many_changes"] = dump(changed)
    unknown = json.loads(json.dumps(units))
    unknown["02:18:00:00:09:09"] = {"name": "GONE", "ip": "198.18.9.9", "kind": "receiver"}
    seeds["unit_not_answering"] = dump(unknown)
    seeds["duplicate_key"] = dump(units).replace(b'"name": "SPARE"',
                                                  b'"name": "SPARE", "name": "OTHER"')
    seeds["deep"] = b"[" * 40
    seeds["not_json"] = b'{"format": 1,'
    seeds["empty"] = b""
    return seeds


def main():
    corpora = {"handle_frame": handle_frame_seeds(), "capture_requests": capture_request_seeds(),
               "installation": installation_seeds()}
    for target, seeds in corpora.items():
        out = os.path.join(CORPUS, target)
        os.makedirs(out, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(out, name), "wb") as f:
                f.write(data)
        print(f"wrote {len(seeds)} seeds to {out}", file=sys.stderr)


if __name__ == "__main__":
    main()
