#!/usr/bin/python3
"""The virtual card as a PC/SC client that nobody here wrote (pyscard) sees it.

Runs inside the e2e fixture: pcscd with two virtual readers, an R2 demo card
in reader 0 (ombrix-sim "main"), reader 1 empty. Exit status 77 (skipped)
when pyscard is missing.
"""
import os
import re
import subprocess
import sys
import unittest

try:
    from smartcard.System import readers
    from smartcard.Exceptions import NoCardException
    from smartcard.scard import SCARD_PROTOCOL_T1
    from smartcard.util import toHexString
except ImportError:
    print("pyscard is not installed for", sys.executable)
    sys.exit(77)

STATE = subprocess.check_output([os.environ["OMBRIX_E2E_CTL"], "state-dir"], text=True).strip()
READER0 = "Virtual PCD 00 00"
READER1 = "Virtual PCD 00 01"

SELECT_MF = [0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00]
GET_DATA_MODEL = [0x00, 0xCA, 0x01, 0x82, 0x02]
R2_MODEL_ID = [0xC8, 0x02]


def sim_atr(name="main"):
    """The ATR the sim says it inserted, from its log."""
    with open(os.path.join(STATE, f"sim-{name}.log"), encoding="utf-8") as log:
        match = re.search(r"ATR ((?:[0-9A-F]{2} ?)+)", log.read())
    assert match, "ombrix-sim did not log its ATR"
    return [int(b, 16) for b in match.group(1).split()]


def reader(name):
    for r in readers():
        if str(r) == name:
            return r
    raise AssertionError(f"{name} not listed; readers: {[str(r) for r in readers()]}")


class VirtualCardThroughPyscard(unittest.TestCase):
    def test_both_virtual_readers_are_listed(self):
        names = [str(r) for r in readers()]
        self.assertIn(READER0, names)
        self.assertIn(READER1, names)

    def test_reader0_holds_the_card_the_sim_inserted(self):
        conn = reader(READER0).createConnection()
        conn.connect()
        try:
            atr = conn.getATR()
            self.assertEqual(toHexString(atr), toHexString(sim_atr()))
            self.assertIn(b"OMBRIX", bytes(atr))
        finally:
            conn.disconnect()

    def test_select_mf_and_model_identification_answer_9000(self):
        conn = reader(READER0).createConnection()
        conn.connect(SCARD_PROTOCOL_T1)
        try:
            _, sw1, sw2 = conn.transmit(SELECT_MF)
            self.assertEqual((sw1, sw2), (0x90, 0x00), "SELECT MF")
            data, sw1, sw2 = conn.transmit(GET_DATA_MODEL)
            self.assertEqual((sw1, sw2), (0x90, 0x00), "GET DATA 01 82")
            self.assertEqual(data[:2], R2_MODEL_ID)
        finally:
            conn.disconnect()

    def test_a_second_sim_serves_reader1_with_another_model(self):
        ctl = os.environ["OMBRIX_E2E_CTL"]
        subprocess.run([ctl, "sim-start", "second", "1", "--model", "R23"], check=True)
        try:
            conn = reader(READER1).createConnection()
            conn.connect()
            data, sw1, sw2 = conn.transmit(GET_DATA_MODEL)
            self.assertEqual((data, sw1, sw2), ([0xC8, 0x06], 0x90, 0x00))
            self.assertEqual(toHexString(conn.getATR()), toHexString(sim_atr("second")))
            conn.disconnect()
        finally:
            subprocess.run([ctl, "sim-stop", "second"], check=True)
        # Reader 0 kept its own card.
        conn = reader(READER0).createConnection()
        conn.connect()
        self.assertEqual(conn.transmit(GET_DATA_MODEL)[0], R2_MODEL_ID)
        conn.disconnect()

    def test_reader1_is_empty(self):
        conn = reader(READER1).createConnection()
        with self.assertRaises(NoCardException):
            conn.connect()


if __name__ == "__main__":
    unittest.main(verbosity=2)
