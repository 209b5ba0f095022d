#!/usr/bin/python3
"""Writes a seed corpus for each fuzz target into OUT_DIR/<target>/, from
small hand-made cases and the generated test data in TESTDATA_DIR.

usage: make_seeds.py OUT_DIR TESTDATA_DIR
"""
import os
import shutil
import struct
import sys


def main():
    out, testdata = sys.argv[1], sys.argv[2]

    def seed(target, name, data):
        folder = os.path.join(out, target)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)

    for i, args in enumerate([
            ["in.pdf", "out.json", "--pages", "1,2,3", "--progress-start", "10", "--progress-end", "90"],
            ["in.PNG", "out.json", "--pages", " 3 ,\t1,,2-5,+7,-1,99999999999999999999"],
            ["--pages", "1", "x.\u00c4BC", "out", "--progress-end", "-5", "--progress-start", "150"],
            ["a", "b", "--progress-start", "+0007", "--progress-end", "9223372036854775807"]]):
        seed("fuzz_options", "args%d" % i, "\0".join(args).encode())
    for i, text in enumerate(["plain", "Minutes of 12/05\nApproved", "quote \" back \\ tab \t \x01 \x1f",
                              "中文 繁體 é ü", "\u2028\u3000\U0001F600"]):
        seed("fuzz_json_string", "text%d" % i, text.encode())
    # Two columns of ten lines under a title, and a receipt's rows of an item and a price.
    columns = bytes([64]) + bytes([20, 10, 215, 8, 0])
    for row in range(10):
        columns += bytes([20, 30 + 12 * row, 100, 8, 0, 135, 30 + 12 * row, 100, 8, 0])
    receipt = bytes([64])
    for row in range(12):
        receipt += bytes([30, 40 + 10 * row, 60 + row * 3, 7, 0, 190, 40 + 10 * row, 20, 7, 0])
    for i, data in enumerate([columns, receipt, bytes([64]) + bytes(range(200, 250)), b"\x01" + b"\xaa" * 60]):
        seed("fuzz_reading_order", "boxes%d" % i, data)
    # The worker's protocol (worker_protocol.cc): requests of 32 bytes
    # (command, page, scale, width, height), replies of 64.
    def request(command, page, scale=0.0, width=0, height=0):
        return struct.pack("<I4xqdii", command, page, scale, width, height)

    def reply(outcome, pages, box=(0.0, 0.0, 612.0, 792.0), rotation=0, width=0, height=0):
        return struct.pack("<Iiq4dii8x", outcome, rotation, pages, *box, width, height)

    seed("fuzz_worker_protocol", "describe_then_draw", request(1, 1) + request(2, 1, 0.25, 153, 198))
    seed("fuzz_worker_protocol", "draw_turned", request(2, 1, 0.1, 80, 62) + request(1, 2))
    seed("fuzz_worker_protocol", "page_reply", reply(0, 3, rotation=90))
    seed("fuzz_worker_protocol", "pixels_reply", reply(0, 1, width=3200, height=4141))
    for name in sorted(os.listdir(testdata)):
        path = os.path.join(testdata, name)
        if os.path.getsize(path) > 200000:
            continue
        # Made to outlast the decoding worker's deadline (hostile_input_test
        # runs them there): drawn here, with no deadline, under the
        # sanitizers, a page of them takes one to two minutes.
        if name.startswith("hostile_contained"):
            continue
        extension = name.rsplit(".", 1)[-1]
        target = "fuzz_pdf" if extension == "pdf" else \
            "fuzz_image" if extension in ("png", "jpg", "bmp", "webp", "tiff", "heic") else None
        if target:
            os.makedirs(os.path.join(out, target), exist_ok=True)
            shutil.copy(path, os.path.join(out, target, name))


if __name__ == "__main__":
    main()
