#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (corpus/<target>/). Run it again
after changing a target's input layout."""
import os, struct, random

HERE = os.path.dirname(os.path.abspath(__file__))
C = dict(DAT_VERSION=0x1004, DAT_IMG=0x1008, DAT_IMGEND=0x1009, RES_ACK=0x100C, RES_NAK=0x100D,
         DAT_AC_IMAGE=0x1017, DAT_AC_IMGEND=0x1018, RES_MC_PATTERN_END=0x1109, RES_DEBUG=0x1111,
         DAT_OPTION=0x1119, DAT_EEPROM=0x111D, DAT_TC_DUAL_MODE=0x111E, DAT_AC_IMAGE_PART=0x1122,
         DAT_MC_INPUT_POINT=0x1126, DAT_AC_IMAGE_PART_END=0x1129, DAT_MASK=0x112D, CMD_SET_MASK=0x112E)
# Index of a code in fuzz_receive's table.
IDX = dict(DAT_VERSION=0, DAT_IMG=1, DAT_IMGEND=2, RES_ACK=4, RES_NAK=5, DAT_AC_IMAGE=9, DAT_AC_IMGEND=10,
           RES_MC_PATTERN_END=16, RES_DEBUG=18, DAT_OPTION=21, DAT_EEPROM=22, DAT_TC_DUAL_MODE=23,
           DAT_AC_IMAGE_PART=25, RES_AC_READY_END=26, DAT_MC_INPUT_POINT=27, DAT_AC_IMAGE_PART_END=28, DAT_MASK=29)


def packet(code, payload=b"", length=None):
    length = len(payload) if length is None else length
    b = struct.pack("<ii", code, length) + payload
    return (b + bytes(512))[:512]


def piece(code, index, total, data):
    return packet(code, struct.pack("<ii", index, total) + data)


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


rnd = random.Random(16)
img = bytes(rnd.randrange(256) for _ in range(496))

# ---- decoders: one packet as read (or several for the copier) ----
write("fuzz_codec", "version", packet(C["DAT_VERSION"], bytes([40, 5])))
write("fuzz_codec", "version_short", packet(C["DAT_VERSION"], bytes([40]), 1))
write("fuzz_codec", "option", packet(C["DAT_OPTION"], bytes([1, 0, 1, 2])))
eeprom = struct.pack("<hhhh", 400, 3, 1920, 1080) + b"".join(struct.pack("<d", i * 0.5) for i in range(13))
eeprom += bytes([1, 0, 2, 3]) + struct.pack("<i", 25) + bytes(rnd.randrange(256) for _ in range(400))
write("fuzz_codec", "eeprom", packet(C["DAT_EEPROM"], eeprom[:400]))
write("fuzz_codec", "eeprom_short", packet(C["DAT_EEPROM"], eeprom[:200]))
write("fuzz_codec", "piece", piece(C["DAT_AC_IMAGE"], 5, 921600, img))
write("fuzz_codec", "piece_last", piece(C["DAT_AC_IMAGE"], 23, 921600, img[:112]))
write("fuzz_codec", "piece_far", piece(C["DAT_IMG"], 0x7FFFFFFF, 230400, img))
write("fuzz_codec", "piece_negative", piece(C["DAT_IMG"], -5, 230400, img))
write("fuzz_codec", "piece_cut", piece(C["DAT_AC_IMAGE"], 7, 921600, img)[:300])
write("fuzz_codec", "mask_part", packet(C["DAT_MASK"], bytes([3]) + img[:503] if False else bytes([3]) + (img * 2)[:503]))
write("fuzz_codec", "mask_last", packet(C["DAT_MASK"], bytes([57]) + img[:130]))
write("fuzz_codec", "mask_bad", packet(C["DAT_MASK"], bytes([200]) + img[:100]))
write("fuzz_codec", "tracking", packet(C["DAT_TC_DUAL_MODE"], struct.pack("<Hhh", 1200, 800, 90) * 4))
write("fuzz_codec", "tracking_odd", packet(C["DAT_TC_DUAL_MODE"], struct.pack("<Hhh", 1200, 800, 90) * 4, 7))
write("fuzz_codec", "mc_points", packet(C["DAT_MC_INPUT_POINT"], b"".join(struct.pack("<ff", i, i * 2) for i in range(25))))
write("fuzz_codec", "fragment", struct.pack("<ii", C["CMD_SET_MASK"], 512) + bytes([2]) + (img * 2)[:503])
write("fuzz_codec", "bad_length", packet(C["RES_DEBUG"], b"", 600))
write("fuzz_codec", "three_pieces", b"".join(piece(C["DAT_IMG"], i, 230400, img) for i in range(3)))
write("fuzz_codec", "runs", bytes([7]) + bytes([0xFF, 0x0F, 0xF0] * 8))

# ---- settings: config.ini \n@@\n param.ini ----
config = b"[Configuration]\nStart_Program=1\nLanguageID=7\nPenSelect=1\nPen_Touch_Mode=2\nLensSelect=1\n" \
         b"CheckCeiling=true\nCheckRear=false\nMonitor=1\n[Device]\nCount=2\n"
param = b"[Configuration]\nSerialNumber1=TLM-0001\nSerialNumber2=TLM-0002\n"
write("fuzz_settings", "both", config + b"\n@@\n" + param)
write("fuzz_settings", "config_only", config)
write("fuzz_settings", "odd_values", b"[Configuration]\nLanguageID=-99999999999\nMonitor=abc\nLensSelect=7\n"
      b"[Device]\nCount=-3\n\n@@\n[Configuration]\nSerialNumber1=" + b"X" * 300 + b"\nSerialNumber2=\xff\xfe\x00\n")
write("fuzz_settings", "broken", b"[Configuration\n=\n\\\n[Device]]\nCount\n@@\n\x00\x00[")


# ---- receive path: state byte, then operations ----
def write_receive(name, data):
    # Both receive-path targets read the same layout.
    write("fuzz_receive", name, data)
    write("fuzz_receive_sync", name, data)


def raw(target, data):
    return bytes([0, target]) + struct.pack("<H", len(data)) + data


def coded(target, name, length, payload=b""):
    return bytes([1, target, IDX[name]]) + struct.pack("<h", length) + bytes([len(payload)]) + payload


def genuine(target, arg):
    return bytes([2, target, arg])


def fault(target, kind, name, value, times):
    return bytes([3, target, kind, IDX[name]]) + struct.pack("<h", value) + bytes([times])


def unplug(target):
    return bytes([4, target])


def wait(n):
    return bytes([5, 0, n])


def settle():
    return bytes([6, 0])


TRACKING, FRAMES, IMAGE, MASK, MANUAL = range(5)
# genuine() actions: target bit 0 = module, (target >> 1) % 6 = action.
FRAME, GROUP, MASKPART, EEPROM, GAIN, VERSION = (a << 1 for a in range(6))

write_receive("tracking", bytes([TRACKING]) + wait(15) + settle())
write_receive("tracking_hostile", bytes([TRACKING]) + coded(0, "DAT_TC_DUAL_MODE", 7, bytes(12))
      + coded(1, "DAT_TC_DUAL_MODE", 504, bytes(60)) + raw(0, bytes(5)) + wait(5))
write_receive("tracking_unplug", bytes([TRACKING]) + wait(5) + unplug(1) + wait(5))
write_receive("frames", bytes([FRAMES]) + wait(10) + genuine(FRAME, 0) + wait(10))
write_receive("frames_hostile", bytes([FRAMES]) + raw(2, piece(C["DAT_IMG"], 0x7FFFFFF0, 999999999, img))
      + coded(2, "DAT_IMGEND", -1) + genuine(GAIN, 18) + coded(2, "DAT_IMGEND", 0) + wait(5))
write_receive("frames_unplug", bytes([FRAMES]) + wait(3) + unplug(0) + wait(3))
write_receive("image_group", bytes([IMAGE, 0]) + wait(15) + settle())
write_receive("image_truncated", bytes([IMAGE, 1]) + fault(0, 3, "DAT_AC_IMAGE", 300, 2) + wait(15))
write_receive("image_loss", bytes([IMAGE, 2]) + fault(0, 0x40, "DAT_AC_IMAGE", 0, 1) + wait(15))
write_receive("image_hostile", bytes([IMAGE, 0]) + raw(0, piece(C["DAT_AC_IMAGE"], 1919, 921600, img))
      + raw(0, piece(C["DAT_AC_IMAGE_PART"], -3, 921600, img)) + coded(0, "DAT_AC_IMAGE_PART_END", 0)
      + coded(0, "DAT_AC_IMGEND", 0) + wait(10))
write_receive("image_last_group", bytes([IMAGE, 0]) + genuine(GROUP, 79 * 3) + wait(10))
write_receive("mask_chain", bytes([MASK]) + settle())
write_receive("mask_hostile", bytes([MASK]) + fault(0, 5, "DAT_MASK", 3, 1) + genuine(MASKPART, 0)
      + raw(0, packet(C["DAT_MASK"], bytes([57]) + img[:130])) + settle())
write_receive("manual", bytes([MANUAL, 20])
      + coded(0, "DAT_MC_INPUT_POINT", 200, b"".join(struct.pack("<ff", i, i) for i in range(25))[:255])
      + coded(0, "RES_MC_PATTERN_END", 4, struct.pack("<i", 3)) + coded(0, "RES_MC_PATTERN_END", 504) + wait(5))
write_receive("answers_mixed", bytes([TRACKING]) + genuine(EEPROM, 0) + coded(0, "DAT_EEPROM", 200)
      + genuine(VERSION | 1, 0) + coded(1, "DAT_VERSION", 1, bytes([9])) + coded(0, "RES_ACK", 4) + wait(5))
