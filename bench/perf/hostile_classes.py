#!/usr/bin/python3
"""The table of hostile inputs, one of each kind, before and after: for every
build named, how the run ended, the failure line it ended with (the page's
own, the input's, or none), seconds, and the peak resident memory of the tool
and of its decoding worker (see worker_runs.py, which runs each). Builds are
interleaved input by input, so that they share the load; say the load
(uptime) beside the figures.

usage: hostile_classes.py [--cap SECONDS] [--only WORD] TESTDATA_DIR NAME=BINARY [NAME=BINARY...]
  e.g. hostile_classes.py build/testdata before=old/brindlewox-ocr after=build/brindlewox-ocr
"""
import argparse
import os

from worker_runs import run

# Each kind: the file in the test data and the page that holds it (None for
# an image file), and the line a contained run ends with.
PAGE = "OCR failed: Could not render PDF page %d for OCR."
UNREADABLE = "OCR failed: The image or PDF could not be opened."
CLASSES = [
    ("1M /RL filters", "hostile_worker_bombs.pdf", 1),
    ("200,000 Do of a form", "hostile_worker_bombs.pdf", 2),
    ("path of 10,000 page-wide segments", "hostile_worker_bombs.pdf", 3),
    ("JPEG of 25,000 scans (image file)", "hostile_scan_flood.jpg", None),
    ("9,000 annotations", "hostile_refused_pages.pdf", 1),
    ("function shading, 20,000-op calculator", "hostile_refused_pages.pdf", 2),
    ("tiling pattern, 0.001 pt step", "hostile_refused_pages.pdf", 3),
    ("JBIG2 segment of length 0", "hostile_refused_pages.pdf", 4),
    ("FF FF D8 before a JPEG's SOI", "hostile_refused_pages.pdf", 5),
    ("APP1 of length 0", "hostile_refused_pages.pdf", 6),
    ("JP2 box claiming 2 GB", "hostile_refused_pages.pdf", 7),
    ("unknown marker before SIZ", "hostile_refused_pages.pdf", 8),
    ("16,384 JPEG 2000 components", "hostile_refused_pages.pdf", 9),
    ("symbol dictionary, 140 M symbols", "hostile_refused_pages.pdf", 10),
    ("DeviceN colorant, 2 GB tint table", "hostile_refused_pages.pdf", 11),
    ("mesh shading, 1.6 M patches", "hostile_refused_pages.pdf", 12),
    ("[/JPXDecode /DCTDecode]", "hostile_refused_pages.pdf", 13),
    ("Type 3 glyph flood", "hostile_contained_pages.pdf", 1),
    ("soft mask nesting itself", "hostile_contained_pages.pdf", 2),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cap", type=float, default=60)
    parser.add_argument("--only", default="", help="run only the kinds whose name holds this")
    parser.add_argument("testdata")
    parser.add_argument("builds", nargs="+")
    options = parser.parse_args()
    builds = [b.split("=", 1) for b in options.builds]
    header = "| kind | " + " | ".join("%s: status, s, tool+worker MB" % name for name, _ in builds) + " |"
    print(header)
    print("|" + " --- |" * (1 + len(builds)))
    for kind, file, page in CLASSES:
        if options.only not in kind:
            continue
        arguments = [os.path.join(options.testdata, file)] + (["--pages", str(page)] if page else [])
        want = PAGE % page if page else UNREADABLE
        cells = []
        for _, binary in builds:
            ended, seconds, _, tool, worker, _, last = run(binary, arguments, options.cap)
            if last == want:
                status = "its line" if ended == "exit 1" else "its line, " + ended
            elif ended == "exit 0":
                status = "exit 0, no line"
            else:
                status = ended + (", other line" if last else ", no line")
            cells.append("%s, %.1f, %.0f+%.0f" % (status, seconds, tool, worker))
        print("| %s | %s |" % (kind, " | ".join(cells)), flush=True)


if __name__ == "__main__":
    main()
