#!/usr/bin/python3
"""Prints one stream of a compound file as stored text: a 4-byte little-endian count, then
exactly that many bytes. With --raw, prints the stream's bytes as they are. With --list, prints
the names of the root's streams, one a line, sorted. Exit status 2 when the file or stream is unfit."""
import struct
import sys

import olefile


def main(argv):
    if len(argv) < 3:
        print("usage: read_ole_stream.py FILE (--list | STREAM [--raw])", file=sys.stderr)
        return 2
    path = argv[1]
    if not olefile.isOleFile(path):
        print("not a compound file", file=sys.stderr)
        return 2
    with olefile.OleFileIO(path) as ole:
        if argv[2] == "--list":
            names = sorted(entry[0] for entry in ole.listdir(streams=True, storages=False)
                           if len(entry) == 1)
            for name in names:
                sys.stdout.write(name + "\n")
            return 0
        if not ole.exists(argv[2]):
            print("no such stream", file=sys.stderr)
            return 2
        data = ole.openstream(argv[2]).read()
    if len(argv) > 3 and argv[3] == "--raw":
        sys.stdout.buffer.write(data)
        return 0
    if len(data) < 4:
        print("stream shorter than its count", file=sys.stderr)
        return 2
    (count,) = struct.unpack("<I", data[:4])
    if len(data) - 4 != count:
        print("count %d but %d bytes follow" % (count, len(data) - 4), file=sys.stderr)
        return 2
    sys.stdout.buffer.write(data[4:])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
