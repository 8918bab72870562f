#!/usr/bin/env python3
"""Plays a MariaDB server up to the login, for vorn_dbcheck's tests: serves one
connection on a free loopback port, which it prints first.

fake_mariadb.py RECORD GREETING SWITCH
    Greets naming the authentication plugin GREETING, asks the client to switch
    to the plugin SWITCH ("none": does not), refuses the login, and writes every
    byte the client sent to the file RECORD.
fake_mariadb.py RECORD --trickle
    Sends a greeting's header, then a byte a second until the client leaves.
"""
import socket
import struct
import sys
import time

SCRAMBLE = b"0123456789abcdefghij"
# LONG_PASSWORD, LONG_FLAG, CONNECT_WITH_DB, PROTOCOL_41, SECURE_CONNECTION,
# MULTI_RESULTS, PLUGIN_AUTH.
CAPABILITIES = 0x1 | 0x4 | 0x8 | 0x200 | 0x8000 | 0x20000 | 0x80000


def packet(sequence, body):
    return struct.pack("<I", len(body))[:3] + bytes([sequence & 0xFF]) + body


def read_packet(conn, record):
    """Appends one packet of the client to record; its sequence number, or None at the end."""
    start = len(record)
    while len(record) < start + 4 or len(record) < start + 4 + int.from_bytes(record[start:start + 3], "little"):
        chunk = conn.recv(4096)
        if not chunk:
            return None
        record += chunk
    return record[start + 3]


def login(conn, record, greeting, switch):
    conn.sendall(packet(0, b"\x0a5.5.5-10.11.0-MariaDB-fake\0" + struct.pack("<I", 7) + SCRAMBLE[:8] + b"\0" +
                        struct.pack("<HBHHB", CAPABILITIES & 0xFFFF, 33, 2, CAPABILITIES >> 16, 21) + bytes(10) +
                        SCRAMBLE[8:] + b"\0" + greeting.encode() + b"\0"))
    sequence = read_packet(conn, record)
    if sequence is not None and switch != "none":
        conn.sendall(packet(sequence + 1, b"\xfe" + switch.encode() + b"\0" + SCRAMBLE + b"\0"))
        sequence = read_packet(conn, record)
    if sequence is not None:
        conn.sendall(packet(sequence + 1, b"\xff\x15\x04#28000Access denied"))


def main():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    print(listener.getsockname()[1], flush=True)
    listener.settimeout(60)
    conn, _ = listener.accept()
    conn.settimeout(30)
    record = bytearray()
    try:
        if sys.argv[2] == "--trickle":
            conn.sendall(b"\x50\0\0\0")
            while True:
                time.sleep(1)
                conn.sendall(b"x")
        login(conn, record, sys.argv[2], sys.argv[3])
    except OSError:
        pass
    with open(sys.argv[1], "wb") as f:
        f.write(record)


main()
