#!/usr/bin/env python3
"""Writes the spool file fixture and the fuzz seeds, byte by byte from the file layout.

Run from the repository root: python3 tests/fuzz_spool/MakeSeeds.py
"""
import struct
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def header(text, created):
    data = text.encode()
    return struct.pack("<i", len(data)) + data + struct.pack("<d", created)


def record(block_size, packed, last):
    return struct.pack("<ii", block_size, len(packed)) + packed + struct.pack("<i", last)


def one_value_block(size, value):
    # Pieces of 32,768 bytes; each packs to items of 128 repetitions and one rest item.
    out = b""
    for start in range(0, size, 32768):
        n = min(32768, size - start)
        while n > 128:
            out += bytes([0x81, value])
            n -= 128
        if n == 1:
            out += bytes([0, value])
        elif n > 1:
            out += bytes([(1 - n) & 0xFF, value])
    return out


def fixture():
    return (header("Name=Sample;Device=K3;Priority=2", 45000.5)
            + record(3, bytes([0xFF, 0x41, 0x00, 0x42]), 0)
            + record(4, bytes([3, 0x42, 0x41, 0x41, 0x43]), 0)
            + record(0, b"", 0)
            + record(100000, one_value_block(100000, 0x5A), 1))


def main():
    spool = fixture()
    assert len(one_value_block(100000, 0x5A)) == 1564
    (ROOT / "tests/data/spool").mkdir(parents=True, exist_ok=True)
    (ROOT / "tests/data/spool/1507_88").write_bytes(spool)

    seeds = ROOT / "tests/fuzz_spool/corpus/fuzz_spool"
    seeds.mkdir(parents=True, exist_ok=True)
    (seeds / "fixture").write_bytes(spool)
    (seeds / "header_only").write_bytes(header("Name=A;Device=K3,K9;File=RST", 44000.25))
    (seeds / "no_device").write_bytes(
        header("Name=Plate 1;Color=Cyan", 1.0) + record(5, bytes([4, 1, 2, 3, 4, 5]), 1))
    # A -128 item (129 repetitions), literals of the widest kind and a block of 0 bytes.
    (seeds / "wide_items").write_bytes(
        header("Device=K3", 0.0)
        + record(129 + 128, bytes([0x80, 7, 127]) + bytes(range(1, 129)), 0)
        + record(0, b"", 1))
    # A writer that stopped: the last record's flag is 0 and nothing follows.
    (seeds / "stopped").write_bytes(
        header("Name=B", 2.0) + record(2, bytes([0xFF, 9]), 0))


if __name__ == "__main__":
    main()
