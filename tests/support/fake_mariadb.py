#!/usr/bin/env python3
"""A listener that plays a MariaDB server up to the login, for vorn_dbcheck's tests.

fake_mariadb.py RECORD GREETING SWITCH
    Greets asking for the authentication plugin GREETING, reads the client's
    login, asks it to switch to the plugin SWITCH ("none": does not), refuses
    what it answers, and writes every byte the client sent to the file RECORD.
fake_mariadb.py --trickle
    Sends a greeting's header, then one byte a second until the client leaves.

Prints its loopback port on the first line, then serves one connection.
"""
import socket
import struct
import sys
import time

SCRAMBLE = b"0123456789abcdefghij"
# CLIENT_LONG_PASSWORD, _LONG_FLAG, _CONNECT_WITH_DB, _PROTOCOL_41,
# _SECURE_CONNECTION, _MULTI_RESULTS, _PLUGIN_AUTH.
CAPABILITIES = 0x1 | 0x4 | 0x8 | 0x200 | 0x8000 | 0x20000 | 0x80000


def packet(sequence, body):
    return struct.pack("<I", len(body))[:3] + bytes([sequence & 0xFF]) + body


def greeting(plugin):
    return (b"\x0a5.5.5-10.11.0-MariaDB-fake\0" + struct.pack("<I", 7) + SCRAMBLE[:8] + b"\0" +
            struct.pack("<HBHH", CAPABILITIES & 0xFFFF, 33, 2, CAPABILITIES >> 16) + bytes([21]) +
            bytes(10) + SCRAMBLE[8:] + b"\0" + plugin.encode() + b"\0")


def read_packet(conn, record):
    """Reads one packet of the client into record; its sequence number, or None at its end."""
    header = b""
    while len(header) < 4:
        chunk = conn.recv(4 - len(header))
        if not chunk:
            return None
        header += chunk
    record += header
    left = int.from_bytes(header[:3], "little")
    while left > 0:
        chunk = conn.recv(left)
        if not chunk:
            return None
        record += chunk
        left -= len(chunk)
    return header[3]


def login(conn, record_path, greeting_plugin, switch_plugin):
    record = bytearray()
    try:
        conn.sendall(packet(0, greeting(greeting_plugin)))
        sequence = read_packet(conn, record)
        if sequence is not None and switch_plugin != "none":
            conn.sendall(packet(sequence + 1, b"\xfe" + switch_plugin.encode() + b"\0" + SCRAMBLE + b"\0"))
            sequence = read_packet(conn, record)
        if sequence is not None:
            conn.sendall(packet(sequence + 1, b"\xff\x15\x04#28000Access denied"))
            read_packet(conn, record)
    except OSError:
        pass
    with open(record_path, "wb") as f:
        f.write(record)


def trickle(conn):
    try:
        conn.sendall(b"\x50\0\0\0")
        while True:
            time.sleep(1)
            conn.sendall(b"x")
    except OSError:
        pass


def main():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    print(listener.getsockname()[1], flush=True)
    listener.settimeout(60)
    conn, _ = listener.accept()
    conn.settimeout(30)
    if sys.argv[1] == "--trickle":
        trickle(conn)
    else:
        login(conn, *sys.argv[1:4])


main()
