#!/usr/bin/python3
"""Scores our tool and the Tesseract peer on one-line images (bench/accuracy/line_crops.py).

usage: line_score.py BINARY CROPS_DIR [--no-peer] [--label NAME]

Per group of crops and over all of them, for our tool, the peer set for a
single line (tesseract --psm 7) and the peer left at its default page
segmentation: order-free character error (mean over crops, bench/accuracy/score.py's
measure), the crops that lose a third or more of their characters, the
output lines per crop (one is right) and seconds per image. The peer's
results are cached under build/line-peer-cache; our texts are written to
build/line-out/<label>/<group>/<crop>.txt so that two runs can be diffed.
"""
import argparse
import collections
import os
import statistics
import sys

from PIL import Image

from score import measures
from tool_runs import PeerCache, ours

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PEERS = (("tesseract --psm 7", 7), ("tesseract default", None))


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("binary")
    parser.add_argument("crops_dir")
    parser.add_argument("--no-peer", action="store_true", help="score our tool only")
    parser.add_argument("--label", default="latest", help="folder name for our texts")
    parser.add_argument("--out", default=os.path.join(ROOT, "build", "line-out"))
    parser.add_argument("--cache", default=os.path.join(ROOT, "build", "line-peer-cache"))
    return parser.parse_args()


def lost_third(truth, got):
    """Whether a third or more of the truth's characters are missing from the output."""
    wanted = collections.Counter("".join(truth.split()))
    missing = wanted - collections.Counter("".join(got.split()))
    return 3 * sum(missing.values()) >= sum(wanted.values())


def crops(crops_dir):
    for group in sorted(os.listdir(crops_dir)):
        folder = os.path.join(crops_dir, group)
        if not os.path.isdir(folder):
            continue
        for name in sorted(os.listdir(folder)):
            if name.endswith(".png"):
                yield group, os.path.join(folder, name)


def figures(truth, result, height):
    text = "\n".join(result["pages"])
    return {"free": measures(truth, text)[1], "lost": lost_third(truth, text),
            "lines": sum(1 for line in text.split("\n") if line.strip(" \f\t")),
            "seconds": result["seconds"], "height": height, "text": text, "failure": result["failure"]}


def image_height(path):
    with Image.open(path) as image:
        return image.size[1]


def main():
    args = parse_arguments()
    cache = PeerCache(args.cache)
    tools = ["ours"] + ([] if args.no_peer else [name for name, _ in PEERS])
    rows = collections.defaultdict(lambda: collections.defaultdict(list))
    listing = list(crops(args.crops_dir))
    if not listing:
        sys.exit("no crops in %s (bench/accuracy/line_crops.py makes them)" % args.crops_dir)
    for number, (group, path) in enumerate(listing, 1):
        with open(path[:-len(".png")] + ".txt", encoding="utf-8") as f:
            truth = f.read()
        height = image_height(path)
        results = {"ours": ours(args.binary, path)}
        if not args.no_peer:
            for name, psm in PEERS:
                results[name] = cache.get(path, psm)[0]
        for tool, result in results.items():
            rows[group][tool].append(figures(truth, result, height))
        mine = rows[group]["ours"][-1]
        target = os.path.join(args.out, args.label, group, os.path.basename(path)[:-len(".png")] + ".txt")
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "w", encoding="utf-8") as f:
            f.write(mine["text"])
        print("[%d/%d] %s/%s: ours %.2f s, %d lines, order-free %.0f%%%s" % (
            number, len(listing), group, os.path.basename(path), mine["seconds"], mine["lines"],
            100 * mine["free"], " (failed: %s)" % mine["failure"] if mine["failure"] else ""), file=sys.stderr)

    groups = dict(rows)
    groups["all"] = {tool: [f for group in rows.values() for f in group[tool]] for tool in tools}
    print()
    print("One-line crops: order-free character error in percent (mean over crops), crops losing"
          " a third or more of their characters, output lines per crop (1 is right)")
    print()
    header = ["group", "crops", "px high (median)", "tool", "order-free", "lost >= 1/3",
              "lines/crop", "crops not 1 line", "s/image"]
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join(" --- " for _ in header) + "|")
    for group, by_tool in groups.items():
        for tool in tools:
            results = by_tool[tool]
            print("| " + " | ".join([
                group, str(len(results)), "%g" % statistics.median(f["height"] for f in results), tool,
                "%.1f" % (100 * statistics.mean(f["free"] for f in results)),
                str(sum(f["lost"] for f in results)),
                "%.2f" % statistics.mean(f["lines"] for f in results),
                str(sum(f["lines"] != 1 for f in results)),
                "%.2f" % statistics.mean(f["seconds"] for f in results)]) + " |")
    print()
    print("texts: %s" % os.path.join(args.out, args.label))


if __name__ == "__main__":
    main()
