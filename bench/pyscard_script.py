#!/usr/bin/python3
"""The APDU script of the tools comparison through pyscard.

    pyscard_script.py READER SCRIPT

Connects to READER, sends every APDU of SCRIPT (one hex APDU a line, # starts
a comment) with CardConnection.transmit, checks each status word (9000 or
61xx), and prints {"loop_s": ..., "apdus": ...}: the time of the sending loop
alone.
"""
import json
import sys
import time

from smartcard.System import readers


def main():
    name, path = sys.argv[1], sys.argv[2]
    apdus = []
    with open(path, encoding="ascii") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                apdus.append(list(bytes.fromhex(line)))
    reader = next(r for r in readers() if str(r) == name)
    connection = reader.createConnection()
    connection.connect()
    start = time.perf_counter()
    for apdu in apdus:
        _, sw1, sw2 = connection.transmit(apdu)
        if not (sw1 == 0x90 and sw2 == 0x00) and sw1 != 0x61:
            sys.exit(f"unexpected status word {sw1:02X}{sw2:02X}")
    loop = time.perf_counter() - start
    connection.disconnect()
    print(json.dumps({"loop_s": loop, "apdus": len(apdus)}))


if __name__ == "__main__":
    main()
