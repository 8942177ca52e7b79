#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/).

Input layout (harness/fuzz_input.h): entry, three fault bytes, argc (2 bytes), argc
argument bytes, then records of (length high, length low, tag, bytes):
tag 0 an answer, 1 a PC/SC error (4 bytes), 2 the card leaves.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

ATR_T1 = bytes.fromhex("3B8880014F4D42524958523200")
RESET_CARD = 0x80100068
REMOVED_CARD = 0x80100069
TIMEOUT = 0x8010000A
CANCELLED = 0x80100002
STATE_EMPTY, STATE_PRESENT, STATE_UNAVAILABLE, STATE_CHANGED, STATE_IGNORE = 0x10, 0x20, 0x08, 0x02, 0x01


def answer(data):
    return len(data).to_bytes(2, "big") + b"\x00" + data


def error(code):
    return b"\x00\x04\x01" + code.to_bytes(4, "big")


def removed():
    return b"\x00\x00\x02"


def h(text):
    return bytes.fromhex(text.replace(" ", ""))


def seed(entry, args=b"", records=(), fault=b"\x00\x00\x00", atr=ATR_T1):
    out = bytes([entry]) + fault + len(args).to_bytes(2, "big") + args
    if atr is not None:
        out += answer(atr)
    for r in records:
        out += r
    return out


def apdu(cla, ins, p1, p2, data=b"", le=0):
    return bytes([cla, ins, p1, p2, len(data), le]) + data


OK = answer(h("9000"))


def session_seeds():
    s = {}
    # ops: 0 send5 (cmd..., response flag), 1 send3, 2 atr, 3 reconnect, 4 re-connect,
    # 5 channel, 6 locked send, 7 copy, 8 connect(null), 9 name
    s["case1"] = seed(0, b"\x00\x00" + apdu(0, 0xA4, 0, 0) + b"\x01", [OK])
    s["case2_data"] = seed(0, b"\x00\x00" + apdu(0, 0xB0, 0, 0, le=0x10) + b"\x01", [answer(bytes(range(16)) + h("9000"))])
    s["case3"] = seed(0, b"\x00\x01" + apdu(0, 0x20, 0, 0x81, b"1234"), [answer(h("63C2"))])
    s["case4_le0"] = seed(0, b"\x00\x00" + apdu(0x80, 0xCA, 1, 0x81, b"\x01", 0) + b"\x01", [answer(bytes(255) + h("9000"))])
    s["procedure_61"] = seed(0, b"\x00\x01" + apdu(0, 0x84, 0, 0, le=8) + b"\x01", [answer(h("6108"))])
    s["reset_retry"] = seed(0, b"\x00\x00" + apdu(0, 0x84, 0, 0, le=8) + b"\x01", [error(RESET_CARD), answer(bytes(8) + h("9000"))])
    s["error_twice"] = seed(0, b"\x00\x00" + apdu(0, 0x84, 0, 0, le=8) + b"\x01", [error(0x80100016), error(0x80100016)])
    s["short_answer"] = seed(0, b"\x00\x00" + apdu(0, 0xB0, 0, 0, le=4) + b"\x01", [answer(b"\x90")])
    s["oversized"] = seed(0, b"\x00\x00" + apdu(0, 0xB0, 0, 0, le=4) + b"\x01", [answer(bytes(300) + h("9000"))])
    s["bad_sw"] = seed(0, b"\x00\x00" + apdu(0, 0xB0, 0, 0, le=4) + b"\x01", [answer(h("0000"))])
    s["removed"] = seed(0, b"\x00\x00" + apdu(0, 0xB0, 0, 0, le=4) + b"\x01" + b"\x03" + b"\x00" + apdu(0, 0xB0, 0, 0), [removed()])
    s["t0_atr_copy"] = seed(1, b"\x01\x02\x20\x07" + apdu(0, 0xC0, 0, 0, le=2) + b"\x01", [answer(h("01029000"))])
    s["channel"] = seed(0, b"\x00\x05\x03\x00" + apdu(0, 0xB0, 0, 0, le=1) + b"\x01\x05\x0A\x06" + apdu(0x80, 0x10, 0, 0), [answer(h("AA9000")), OK])
    s["reconnect_name"] = seed(0, b"\x00\x03\x04\x08\x09", [])
    s["fault_transmit"] = seed(0, b"\x00\x00" + apdu(0, 0xA4, 0, 0), [OK], fault=b"\x09\x00\x00")
    return s


def sm_seeds():
    key = bytes(range(16))
    iddata = bytes(range(24)) + h("9000")
    chal = bytes(8) + h("9000")
    s = {}
    names = ["keys3", "keys6", "initsm", "removesm", "sig4", "enc4", "encsig4", "sigc", "encc", "encsigc",
             "resp_enc", "resp_sig", "resp_encsig", "resp_suppressed", "challenge", "give_random",
             "isr1", "isr2", "isr21", "isr21v", "isr22", "isr23", "isr23v", "r23size",
             "bridge_read_record", "bridge_verify", "bridge_read_binary", "bridge_update_binary",
             "bridge_key", "bridge_sequence"]
    cmd = apdu(0, 0xB2, 1, 4, b"\x11\x22\x33", 0x10)
    per_entry = {
        "sig4": cmd, "enc4": cmd, "encsig4": cmd, "sigc": cmd, "encc": cmd, "encsigc": cmd,
        "resp_enc": b"\x01\x05hello", "resp_sig": cmd + b"\x08" + bytes(8) + b"\x01\x04data",
        "resp_encsig": cmd + b"\x00\x01\x04data", "resp_suppressed": b"\x06\x81\x04abcd\x01",
        "challenge": b"\x08", "give_random": b"\x08" + bytes(8),
        "bridge_read_record": b"\x01\x01", "bridge_verify": b"\x041234\x81\x01",
        "bridge_read_binary": b"\x00\x80\x01", "bridge_update_binary": b"\x00\x10" + bytes(16) + b"\x01",
        "bridge_sequence": b"\x01\x01\x00\x041234\x81\x01",
    }
    answers = {
        "r23size": [answer(h("0140 9000"))], "isr1": [answer(h("C801 9000"))], "isr22": [answer(h("C822 9000"))],
        "challenge": [chal], "sigc": [chal], "encsigc": [chal],
    }
    for i, name in enumerate(names):
        args = b"\x00" + key + per_entry.get(name, b"")
        recs = answers.get(name, [iddata, chal, answer(bytes(16) + h("9000")), chal, OK])
        s["%02d_%s" % (i, name)] = seed(i, args, recs)
    s["resp_enc_raw"] = seed(10, b"\x00" + key + b"\x00\x00\x10" + h("87 09 01") + bytes(8), [])
    return s


def commands_seeds(count):
    s = {}
    generic = [answer(h("9000")), answer(bytes(range(32)) + h("9000")), answer(h("10 9000")),
               answer(h("6A82")), OK, OK, OK, OK]
    for i in range(0, count, 3):
        args = b"\x00" + bytes([1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0])
        s["entry_%03d" % i] = seed(i, args, generic)
    s["read_binary_chunks"] = seed(5, b"\x00\x02\x00", [answer(bytes(255) + h("9000")), answer(bytes(255) + h("9000")), answer(bytes(10) + h("9000"))])
    s["t0_channel"] = seed(20, b"\x0B" + b"\x01\x02\x041234", generic)
    return s


def readers_seeds():
    s = {}
    # mode, readers: count, per reader kind [name], then entry args
    two = b"\x02" + b"\x41" + b"\x45\x06Vendor"
    s["list_alloc"] = seed(0, b"\x00" + two + b"\x00\x01\x00\x00", [answer(ATR_T1)], atr=ATR_T1)
    s["list_buffer"] = seed(0, b"\x00" + two + b"\x01\x00\x00\x40", [answer(ATR_T1)])
    s["list_scripted"] = seed(0, b"\x01\x01\x41\x00\x01\x00\x00", [answer(b"A\0BC\0\0"), answer(b"A\0BC\0\0")])
    s["list_shrinks"] = seed(0, b"\x01\x01\x41\x00\x01\x00\x00", [answer(b"Fuzz Reader 0\0Other\0\0"), answer(b"Fuzz\0\0")])
    s["connect_first"] = seed(1, b"\x00\x03\x40\x41\x45\x00", [answer(ATR_T1)])
    s["atr"] = seed(2, b"\x08\x01\x41\x20\x00", [])
    s["manufacturer"] = seed(3, b"\x08\x01\x49\x0COmbrix Vendor\x20\x00", [])
    db = (b"[Ombrix R2]\nATR = 3B 88 80 01 4F 4D 42 52 49 58 52 32 00\nATR Mask = FF FF FF FF FF FF FF FF FF FF FF FF FF\n"
          b"Crypto Provider = QV_CSP\n")
    s["dialog"] = seed(4, b"\x00\x02\x41\x40\x00\x01", [answer(ATR_T1), answer(db)])
    s["dialog_scripted"] = seed(4, b"\x03\x01\x41\x00\x01", [answer(db), answer(b"Fuzz Reader 0\0\0"),
                                                         answer((STATE_PRESENT | STATE_CHANGED).to_bytes(4, "big") + bytes([len(ATR_T1)]) + ATR_T1)])
    s["database"] = seed(5, b"\x00\x00\x0D" + ATR_T1, [answer(db)])
    s["database_odd"] = seed(5, b"\x00\x00\x02\x3B\x00", [answer(b"[a]\nATR=3B\nATR Mask=\n[b\n=\nATR = zz\n")])
    return s


def monitor_seeds():
    def state(bits, atr=b""):
        return answer(bits.to_bytes(4, "big") + bytes([len(atr)]) + atr)
    s = {}
    insert_remove = [state(STATE_EMPTY), state(STATE_PRESENT | STATE_CHANGED, ATR_T1), state(STATE_EMPTY | STATE_CHANGED)]
    s["ex_blocking"] = seed(0, b"\x00\x00\x00\x14", insert_remove)
    s["ex_polling"] = seed(0, b"\x00\x00\x00\x04", insert_remove + [error(TIMEOUT), state(STATE_PRESENT, ATR_T1)])
    s["member"] = seed(0, b"\x00\x00\x00\x07", [state(STATE_PRESENT, ATR_T1), state(STATE_EMPTY | STATE_CHANGED)])
    s["unavailable"] = seed(0, b"\x00\x00\x00\x14", [state(STATE_PRESENT), state(STATE_UNAVAILABLE | STATE_CHANGED | STATE_IGNORE)])
    s["stop_in_callback"] = seed(0, b"\x80\x00\x01\x14\x04", insert_remove * 2)
    s["dup"] = seed(0, b"\x00\x00\x02\x1C\x1C\x1C", insert_remove)
    s["errors"] = seed(0, b"\x00\x00\x00\x14", [error(0x80100068), error(REMOVED_CARD), error(CANCELLED)])
    s["long_name"] = seed(0, b"\x00\x01\x01\x04" + b"R" * 260 + b"\x00\x14", insert_remove)
    return s


def cardmodel_seeds():
    s = {}
    cmds = [h("00A4000000"), h("00A40000023F00"), h("00CA018100"), h("00CA018200"), h("00CA018300"),
            h("00B0000070"), h("00B2010400"), h("0020008104313233343536"), h("0084000008"),
            h("8010000000"), h("00A4080002 5001"), h("0022F301"), h("0088000000")]
    for model in range(7):
        for image in (0, 1):
            s["raw_%d_%s" % (model, "blank" if image else "demo")] = seed(0, bytes([model, image]), [answer(c) for c in cmds], atr=None)
    s["rsa_demo"] = seed(0, b"\x01\x1E", [answer(h("002241B6 06 830120 840105")), answer(h("002A9E9A 14" + "00" * 20 + "00"))], atr=None)
    s["reset_poweroff"] = seed(0, b"\x02\x00", [answer(cmds[1]), removed(), answer(cmds[5]), error(0x80100069), answer(cmds[5])], atr=None)
    for i, e in enumerate([24, 50, 53, 56, 60, 27, 30, 33, 36]):
        s["library_%02d" % i] = seed(1, bytes([1 + i % 6, 0]) + bytes([e, 1, 2, 3, 4, 0, 0, 0, 0, 0x81, 0x81]), [], atr=None)
    return s


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 114
    targets = {
        "session": session_seeds(), "sm": sm_seeds(), "commands": commands_seeds(count),
        "readers": readers_seeds(), "monitor": monitor_seeds(), "cardmodel": cardmodel_seeds(),
    }
    for target, seeds in targets.items():
        directory = os.path.join(HERE, "corpus", target)
        os.makedirs(directory, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(directory, name), "wb") as f:
                f.write(data)
        print("%s: %d seeds" % (target, len(seeds)))


if __name__ == "__main__":
    main()
