#!/usr/bin/env python3
"""Writes a small libpcap capture (Ethernet: an ARP request, a UDP datagram, a TCP SYN) to argv[1]."""
import struct
import sys


def ipv4(protocol, payload):
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(payload), 1, 0, 64, protocol, 0,
                         bytes([10, 0, 0, 1]), bytes([10, 0, 0, 2]))
    return header + payload


def ethernet(ethertype, payload):
    return bytes.fromhex("020000000002" "020000000001") + struct.pack("!H", ethertype) + payload


arp = struct.pack("!HHBBH6s4s6s4s", 1, 0x0800, 6, 4, 1, bytes.fromhex("020000000001"),
                  bytes([10, 0, 0, 1]), bytes(6), bytes([10, 0, 0, 2]))
udp = struct.pack("!HHHH", 40000, 53, 12, 0) + b"ping"
tcp = struct.pack("!HHIIBBHHH", 40001, 80, 1, 0, 0x50, 0x02, 8192, 0, 0)
frames = [ethernet(0x0806, arp), ethernet(0x0800, ipv4(17, udp)), ethernet(0x0800, ipv4(6, tcp))]

with open(sys.argv[1], "wb") as out:
    out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
    for n, frame in enumerate(frames):
        out.write(struct.pack("<IIII", 1700000000, n * 1000, len(frame), len(frame)) + frame)
