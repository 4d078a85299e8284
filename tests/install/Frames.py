#!/usr/bin/env python3
"""Frame checks of the install test.

    Frames.py compare SEEN.pcap STORED.pcap MIN
        STORED holds at least MIN frames, and they are, byte for byte and in order, a run of the
        frames tcpdump wrote to SEEN (Ethernet). A raw-IP STORED is compared with SEEN's IPv4
        datagrams.
    Frames.py replay HELPER INTERFACE OUT.pcap
        Asks the capture helper for a socket that sends on INTERFACE, as the program does for
        replay, sends one frame on it and writes that frame to OUT.pcap.
"""
import os
import socket
import struct
import subprocess
import sys

ETHERNET, RAW = 1, 101


def read_pcap(path):
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 24:
        sys.exit(f"{path}: not a libpcap file")
    magic = data[:4]
    order = {b"\xd4\xc3\xb2\xa1": "<", b"\x4d\x3c\xb2\xa1": "<",
             b"\xa1\xb2\xc3\xd4": ">", b"\xa1\xb2\x3c\x4d": ">"}.get(magic)
    if order is None:
        sys.exit(f"{path}: not a libpcap file")
    link = struct.unpack(order + "I", data[20:24])[0] & 0xFFFF
    frames, at = [], 24
    while at + 16 <= len(data):
        captured = struct.unpack(order + "I", data[at + 8:at + 12])[0]
        if at + 16 + captured > len(data):
            sys.exit(f"{path}: cut short in a frame")
        frames.append(data[at + 16:at + 16 + captured])
        at += 16 + captured
    return link, frames


def write_pcap(path, frames):
    with open(path, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, ETHERNET))
        for frame in frames:
            f.write(struct.pack("<IIII", 0, 0, len(frame), len(frame)) + frame)


def compare(seen_path, stored_path, minimum):
    _, seen = read_pcap(seen_path)
    link, stored = read_pcap(stored_path)
    if link == RAW:
        seen = [f[14:] for f in seen if len(f) > 14 and f[12:14] == b"\x08\x00"]
    elif link != ETHERNET:
        sys.exit(f"{stored_path}: link type {link}")
    if len(stored) < int(minimum):
        sys.exit(f"{stored_path} holds {len(stored)} frames, fewer than {minimum}")
    first = seen.index(stored[0]) if stored[0] in seen else -1
    if first < 0 or seen[first:first + len(stored)] != stored:
        sys.exit(f"the {len(stored)} frames of {stored_path} are not what tcpdump saw")


def replay(helper, interface, out):
    ours, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_SEQPACKET)

    def on_three():
        os.dup2(theirs.fileno(), 3)
        os.set_inheritable(3, True)

    process = subprocess.Popen([helper], preexec_fn=on_three, pass_fds=(3,),
                               stdin=subprocess.DEVNULL)
    theirs.close()
    ours.sendall(f"TWCAP 1 send {interface}\n".encode())
    ours.settimeout(10)
    reply, fds, _, _ = socket.recv_fds(ours, 4096, 4)
    ours.close()
    process.wait(timeout=10)
    if not reply.startswith(b"OK") or len(fds) != 1:
        sys.exit(f"the helper gave no send socket: {reply.decode(errors='replace').strip()}")
    # To the other end's address; an experimental EtherType no stack of the namespaces answers.
    frame = (bytes.fromhex("02000000000b02000000000a88b5") + b"tidewatch replay " +
             os.urandom(8).hex().encode()).ljust(60, b"\0")
    if os.write(fds[0], frame) != len(frame):
        sys.exit("the helper's socket sent part of the frame")
    os.close(fds[0])
    write_pcap(out, [frame])


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "compare":
        compare(*sys.argv[2:])
    elif len(sys.argv) == 5 and sys.argv[1] == "replay":
        replay(*sys.argv[2:])
    else:
        sys.exit(__doc__)
