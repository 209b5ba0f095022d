#!/usr/bin/python3
"""Builds one-line images from the tuning corpus's PDF pages.

usage: line_crops.py TUNING_DIR OUT_DIR

Each page of the PDF groups (zh_hans_pdf, zh_hant_pdf, en_pdf) is rendered at
187.2 dpi with pdftoppm, the way the peer sees it, and lines from its
<id>.lines.json are cut out with a 3-pixel margin: the text reaches close to
the image's edges, as in a screenshot of one line. Per group, 15 lines of at
least 4 characters are taken at even steps through the group's lines (items
in id order, lines in file order), so every build gives the same set. Every
third of them is also cut from the page rendered at half that resolution
(93.6 dpi, group <group>_half), where body text is about 13 pixels high and
the crop 16 to 24: small text.

Writes OUT_DIR/<group>/<id>_l<line>.png with its text in .txt beside it, and
OUT_DIR/crops.tsv listing every crop.
"""
import json
import math
import os
import subprocess
import sys
import tempfile

from PIL import Image

GROUPS = ("zh_hans_pdf", "zh_hant_pdf", "en_pdf")
DPI = 187.2
MARGIN = 3
PER_GROUP = 15
HALF_EVERY = 3
MIN_CHARACTERS = 4


def render(pdf, dpi, folder):
    prefix = os.path.join(folder, "page-%g" % dpi)
    subprocess.run(["pdftoppm", "-r", "%g" % dpi, "-png", "-singlefile", pdf, prefix], check=True)
    return Image.open(prefix + ".png").convert("RGB")


def crop(page, line):
    width, height = page.size
    box = (max(0, math.floor(line["left"] * width) - MARGIN), max(0, math.floor(line["top"] * height) - MARGIN),
           min(width, math.ceil(line["right"] * width) + MARGIN),
           min(height, math.ceil(line["bottom"] * height) + MARGIN))
    return page.crop(box)


def chosen_lines(tuning_dir, items):
    """Every eligible (item, line index, line) of one group, then the even-step subset."""
    eligible = []
    for item in sorted(items, key=lambda item: item["id"]):
        with open(os.path.join(tuning_dir, item["lines"]), encoding="utf-8") as f:
            lines = json.load(f)
        for index, line in enumerate(lines):
            if len("".join(line["text"].split())) >= MIN_CHARACTERS:
                eligible.append((item, index, line))
    if len(eligible) <= PER_GROUP:
        return eligible
    return [eligible[int((i + 0.5) * len(eligible) / PER_GROUP)] for i in range(PER_GROUP)]


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: line_crops.py TUNING_DIR OUT_DIR")
    tuning_dir, out_dir = sys.argv[1], sys.argv[2]
    with open(os.path.join(tuning_dir, "manifest.json"), encoding="utf-8") as f:
        items = json.load(f)["items"]
    listing = []
    for group in GROUPS:
        chosen = chosen_lines(tuning_dir, [item for item in items if item["group"] == group])
        pages = {}
        with tempfile.TemporaryDirectory() as work:
            for number, (item, index, line) in enumerate(chosen):
                scales = [(group, DPI)] + ([(group + "_half", DPI / 2)] if number % HALF_EVERY == 0 else [])
                for crop_group, dpi in scales:
                    key = (item["id"], dpi)
                    if key not in pages:
                        pages[key] = render(os.path.join(tuning_dir, item["input"]), dpi, work)
                    image = crop(pages[key], line)
                    name = "%s_l%03d" % (item["id"], index)
                    folder = os.path.join(out_dir, crop_group)
                    os.makedirs(folder, exist_ok=True)
                    image.save(os.path.join(folder, name + ".png"))
                    with open(os.path.join(folder, name + ".txt"), "w", encoding="utf-8") as f:
                        f.write(line["text"])
                    listing.append((crop_group, name, image.size[0], image.size[1], line["text"]))
    with open(os.path.join(out_dir, "crops.tsv"), "w", encoding="utf-8") as f:
        f.write("group\tcrop\twidth\theight\ttext\n")
        for row in listing:
            f.write("%s\t%s\t%d\t%d\t%s\n" % row)
    print("%d crops in %s" % (len(listing), out_dir))


if __name__ == "__main__":
    main()
