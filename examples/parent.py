#!/usr/bin/env python3
"""A parent application that runs brindlewox-ocr on one file, draws a live
progress bar from its marker lines, and reports the outcome.

usage: parent.py INPUT OUTPUT [brindlewox-ocr options...]

Only the standard library is used. The tool is looked up on PATH, or taken
from the BRINDLEWOX_OCR variable when that is set.
"""
import json
import os
import shutil
import subprocess
import sys

MARKER = "BRINDLEWOX_PROGRESS "
FAILURE = "OCR failed: "


def bar(percent, completed, total, width=30):
    filled = width * percent // 100
    return "\r[%s%s] %3d%%  page %d of %d" % ("#" * filled, "." * (width - filled), percent, completed, total)


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: parent.py INPUT OUTPUT [options...]")
    tool = os.environ.get("BRINDLEWOX_OCR") or shutil.which("brindlewox-ocr") or "brindlewox-ocr"
    process = subprocess.Popen([tool] + sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                               text=True, encoding="utf-8", errors="replace")
    failure = None
    # The tool writes each line in one piece, so reading line by line is safe.
    for line in process.stderr:
        line = line.rstrip("\n")
        if line.startswith(MARKER):
            event = json.loads(line[len(MARKER):])
            sys.stdout.write(bar(event["percent"], event["completedPages"], event["totalPages"]))
            sys.stdout.flush()
        elif line.startswith(FAILURE):
            failure = line[len(FAILURE):]
    status = process.wait()
    print()
    if status != 0:
        print("failed (exit status %d): %s" % (status, failure or "no failure line"))
        return status
    with open(sys.argv[2], encoding="utf-8") as f:
        document = json.load(f)
    pages = document["pages"]
    print("done: %d of %d pages read into %s" % (len(pages), document["pageCount"], sys.argv[2]))
    for page in pages:
        first = page["text"].split("\n", 1)[0]
        print("  page %d (confidence %.2f): %s" % (page["page"], page["confidence"], first[:60]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
