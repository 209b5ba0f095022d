#!/usr/bin/python3
"""Reads every page of the tuning corpus upright and turned clockwise by 90,
180 and 270 degrees, and prints, per group, the order-free character error
of each, how many turned pages lose more than one point against the upright
page, and how many upright pages read differently from the BEFORE build (a
page the orientation step turned, or read otherwise, that it should have
left alone).

usage: orientation_score.py BEFORE AFTER [TUNING_DIR] [--groups g1,g2] [--jobs N]
                            [--per-group N] [--work DIR]

PDF pages are rendered as the peer sees them (pdftoppm at 187.2 dpi), so
every variant is a PNG of the same pixels. The figures are means over the
group's items; the texts are kept under DIR (default build/orientation-out).
"""
import argparse
import concurrent.futures
import os
import subprocess
import sys

from PIL import Image

from score import measures
from tool_runs import ours
from tuning_score import CASE_FREE_GROUPS, load_items

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TURNS = {90: Image.Transpose.ROTATE_270, 180: Image.Transpose.ROTATE_180, 270: Image.Transpose.ROTATE_90}
LOSS_ALLOWED = 0.01


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("tuning_dir", nargs="?", default=os.path.join(ROOT, "tuning-data"))
    parser.add_argument("--groups", help="comma-separated groups (default: all)")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--per-group", type=int, default=0, help="at most this many items per group (0: all)")
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "orientation-out"))
    return parser.parse_args()


def upright_png(item, args):
    """The item's first page as a PNG under the work folder."""
    source = os.path.join(args.tuning_dir, item["input"])
    target = os.path.join(args.work, "pages", item["group"], item["id"] + ".png")
    if os.path.exists(target):
        return target
    os.makedirs(os.path.dirname(target), exist_ok=True)
    if source.lower().endswith(".pdf"):
        stem = target[:-len(".png")]
        subprocess.run(["pdftoppm", "-r", "187.2", "-png", "-singlefile", "-f", "1", "-l", "1", source, stem],
                       check=True)
    else:
        Image.open(source).convert("RGB").save(target)
    return target


def turned_png(upright, degrees):
    target = upright[:-len(".png")] + "_%d.png" % degrees
    if not os.path.exists(target):
        Image.open(upright).transpose(TURNS[degrees]).save(target)
    return target


def text_of(binary, path):
    result = ours(binary, path)
    return result["failure"] or "\f".join(result["pages"])


def score_item(item, args):
    with open(os.path.join(args.tuning_dir, item["gt"]), encoding="utf-8") as f:
        truth = f.read()
    upright = upright_png(item, args)
    texts = {"before": text_of(args.before, upright), 0: text_of(args.after, upright)}
    for degrees in TURNS:
        texts[degrees] = text_of(args.after, turned_png(upright, degrees))
    for name, text in texts.items():
        path = os.path.join(args.work, "texts", item["group"], "%s.%s.txt" % (item["id"], name))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
    case_free = item["group"] in CASE_FREE_GROUPS
    errors = {name: measures(truth.upper() if case_free else truth, text.upper() if case_free else text)[1]
              for name, text in texts.items()}
    return {"item": item, "errors": errors, "upright_changed": texts[0] != texts["before"]}


def main():
    args = parse_arguments()
    items = load_items(args.tuning_dir, args.groups)
    if args.per_group:
        kept, seen = [], {}
        for item in items:
            seen[item["group"]] = seen.get(item["group"], 0) + 1
            if seen[item["group"]] <= args.per_group:
                kept.append(item)
        items = kept
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        rows = list(pool.map(lambda item: score_item(item, args), items))
    groups = {}
    for row in rows:
        groups.setdefault(row["item"]["group"], []).append(row)
    print("order-free character error in %, mean over the group's pages")
    print("| group | pages | before upright | upright | 90 | 180 | 270 | turned pages losing > 1 point |"
          " upright pages changed |")
    print("| --- | --- | --- | --- | --- | --- | --- | --- | --- |")
    for group in sorted(groups):
        members = groups[group]

        def mean(name, members=members):
            return 100.0 * sum(row["errors"][name] for row in members) / len(members)

        losing = sum(1 for row in members for degrees in TURNS
                     if row["errors"][degrees] > row["errors"][0] + LOSS_ALLOWED)
        changed = sum(1 for row in members if row["upright_changed"])
        print("| %s | %d | %.1f | %.1f | %.1f | %.1f | %.1f | %d of %d | %d |" % (
            group, len(members), mean("before"), mean(0), mean(90), mean(180), mean(270), losing,
            3 * len(members), changed))
    for row in rows:
        for degrees in TURNS:
            if row["errors"][degrees] > row["errors"][0] + LOSS_ALLOWED:
                print("loses: %s/%s turned %d: %.1f against %.1f upright" % (
                    row["item"]["group"], row["item"]["id"], degrees, 100 * row["errors"][degrees],
                    100 * row["errors"][0]), file=sys.stderr)
        if row["upright_changed"]:
            print("changed upright: %s/%s %.1f -> %.1f" % (row["item"]["group"], row["item"]["id"],
                                                         100 * row["errors"]["before"], 100 * row["errors"][0]),
                  file=sys.stderr)


if __name__ == "__main__":
    main()
