#!/usr/bin/python3
"""The reading order alone, on the tuning corpus: each page's ground-truth
lines are put through our reading order from their true boxes
(build/order_bound) and the ordered character error of that text is printed
per group, with the item that loses most. No recognition runs, so a change to
the order can be tried on every page in seconds.

With --observations DIR, the recogniser's own boxes take the place of the
true ones: build/dump_observations writes them for every item into DIR once
(the networks run then), and each later run only orders them. The ordered
error of that text, against the order-free error of the same text, is what
the order alone costs on real detections.

usage: order_score.py [TUNING_DIR] [--order-bound PROGRAM] [--observations DIR] [--items]
"""
import argparse
import concurrent.futures
import json
import os
import subprocess
import sys

from score import measures
from tuning_score import CASE_FREE_GROUPS, order_bound_text, page_aspect

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def observed_lines(item, args):
    """The recogniser's observations of the item's first page, dumped once."""
    lines = os.path.join(args.observations, item["group"], item["id"] + ".lines.json")
    aspect_file = lines + ".aspect"
    if not os.path.exists(aspect_file):
        os.makedirs(os.path.dirname(lines), exist_ok=True)
        source = os.path.join(args.tuning_dir, item["input"])
        completed = subprocess.run([args.dump, source, lines], capture_output=True, check=True, text=True)
        with open(aspect_file, "w", encoding="utf-8") as f:
            f.write(completed.stdout)
    with open(aspect_file, encoding="utf-8") as f:
        return lines, float(f.read())


def score(item, args):
    with open(os.path.join(args.tuning_dir, item["gt"]), encoding="utf-8") as f:
        truth = f.read().split("\f")[0]
    if args.observations:
        lines, aspect = observed_lines(item, args)
    else:
        lines = os.path.join(args.tuning_dir, item["lines"])
        aspect = page_aspect(os.path.join(args.tuning_dir, item["input"]))
    text = order_bound_text(args.order_bound, lines, aspect)
    if item["group"] in CASE_FREE_GROUPS:
        truth, text = truth.upper(), text.upper()
    cer, free = measures(truth, text)[:2]
    return item, cer, free


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("tuning_dir", nargs="?", default=os.path.join(ROOT, "tuning-data"))
    parser.add_argument("--order-bound", default=os.path.join(ROOT, "build", "order_bound"))
    parser.add_argument("--observations", help="folder for the recogniser's observations (dumped when missing)")
    parser.add_argument("--dump", default=os.path.join(ROOT, "build", "dump_observations"))
    parser.add_argument("--items", action="store_true", help="also print one row per item")
    args = parser.parse_args()
    with open(os.path.join(args.tuning_dir, "manifest.json"), encoding="utf-8") as f:
        items = json.load(f)["items"]
    with concurrent.futures.ProcessPoolExecutor(max_workers=os.cpu_count()) as pool:
        results = list(pool.map(score, items, [args] * len(items)))
    groups = {}
    for item, cer, free in results:
        groups.setdefault(item["group"], []).append((cer, free, item["id"]))
        if args.items:
            print("%-14s %-50s %6.1f %6.1f" % (item["group"], item["id"], 100 * cer, 100 * free))
    boxes = "the recogniser's boxes" if args.observations else "the true lines"
    print("| group | items | ordered CER, %s in our order | order-free CER | worst item |" % boxes)
    print("| --- | --- | --- | --- | --- |")
    for group, rows in groups.items():
        worst = max(rows)
        print("| %s | %d | %.1f | %.1f | %s %.1f |" % (
            group, len(rows), 100 * sum(r[0] for r in rows) / len(rows), 100 * sum(r[1] for r in rows) / len(rows),
            worst[2], 100 * worst[0]))
    sys.stdout.flush()


if __name__ == "__main__":
    main()
