#!/usr/bin/python3
"""Scores our tool and the Tesseract peer on the tuning corpus of real pages.

usage: tuning_score.py BINARY [TUNING_DIR] [--groups g1,g2] [--no-peer] [--jobs N]
                       [--label NAME] [--items]

Per group of the corpus (tuning-data/manifest.json), for our tool and the peer:
character error ordered and order-free, word error ordered and order-free
(English groups), seconds per page and peak RSS; all errors are means over the
group's items, as bench/accuracy/score.py measures them. Receipts are all upper case in
their ground truth, so that group is compared case-insensitively.

Reading order: the ground-truth lines are put through our own reading order
from their true boxes (build/order_bound), and the ordered error of that
text is printed beside ours: the best order our comparison allows. The lines
are used as the corpus gives them (visual lines; a form's line is not split
into its parts). Also printed: the empty (paragraph) lines per page in our
output and in that sorted ground truth.

The peer's results are cached under build/tuning-peer-cache (keyed by input
file, size and mtime), so a repeated run only re-runs our tool. Every text is
written to build/tuning-out/<label>/<group>/<id>.txt (the peer's under
"peer", the sorted ground truth under "order-bound"), with the per-item
figures in scores.tsv, so that two runs can be diffed.
"""
import argparse
import concurrent.futures
import json
import os
import subprocess
import sys

from score import measures
from tool_runs import PeerCache, ours

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CASE_FREE_GROUPS = {"en_receipts"}


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("binary")
    parser.add_argument("tuning_dir", nargs="?", default=os.path.join(ROOT, "tuning-data"))
    parser.add_argument("--groups", help="comma-separated groups (default: all)")
    parser.add_argument("--no-peer", action="store_true", help="score our tool only")
    parser.add_argument("--jobs", type=int, default=1,
                        help="items run at once (default 1: honest timing)")
    parser.add_argument("--label", default="latest", help="folder name for our texts")
    parser.add_argument("--items", action="store_true", help="also print one row per item")
    parser.add_argument("--order-bound", default=os.path.join(ROOT, "build", "order_bound"))
    parser.add_argument("--out", default=os.path.join(ROOT, "build", "tuning-out"))
    parser.add_argument("--cache", default=os.path.join(ROOT, "build", "tuning-peer-cache"))
    return parser.parse_args()


def load_items(tuning_dir, groups):
    with open(os.path.join(tuning_dir, "manifest.json"), encoding="utf-8") as f:
        items = json.load(f)["items"]
    if groups:
        wanted = groups.split(",")
        unknown = set(wanted) - {item["group"] for item in items}
        if unknown:
            sys.exit("unknown groups: %s" % ", ".join(sorted(unknown)))
        items = [item for item in items if item["group"] in wanted]
    return items


def scored(item, truth, got):
    if item["group"] in CASE_FREE_GROUPS:
        truth, got = truth.upper(), got.upper()
    return measures(truth, got)


def empty_lines(text):
    lines = text.split("\n")
    return sum(1 for line in lines if not line.strip()) if text.strip() else 0


def page_aspect(source):
    """The first page's width over its height, as the tool draws or decodes it."""
    if source.lower().endswith(".pdf"):
        info = subprocess.run(["pdfinfo", source], capture_output=True, check=True, text=True).stdout
        size = next(line for line in info.splitlines() if line.startswith("Page size:")).split()
        width, height = float(size[2]), float(size[4])
        rotation = next((int(line.split()[-1]) for line in info.splitlines() if line.startswith("Page rot:")), 0)
        return height / width if rotation % 180 else width / height
    from PIL import Image
    with Image.open(source) as image:
        return image.width / image.height


def order_bound_text(program, lines_path, aspect):
    completed = subprocess.run([program, lines_path, "%.6f" % aspect], capture_output=True, check=False)
    if completed.returncode != 0:
        raise RuntimeError("order_bound failed on %s: %s" % (lines_path, completed.stderr.decode().strip()))
    return completed.stdout.decode("utf-8").rstrip("\n")


def write_text(folder, item, text):
    path = os.path.join(folder, item["group"], item["id"] + ".txt")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def score_item(item, args, cache):
    """Runs what one item needs and returns its figures."""
    with open(os.path.join(args.tuning_dir, item["gt"]), encoding="utf-8") as f:
        truth = f.read()
    source = os.path.join(args.tuning_dir, item["input"])
    row = {"item": item, "tools": {}}
    runs = {"ours": ours(args.binary, source)}
    if not args.no_peer:
        runs["peer"], row["peer_cached"] = cache.get(source)
    for tool, result in runs.items():
        text = "\f".join(result["pages"])
        write_text(os.path.join(args.out, args.label if tool == "ours" else "peer"), item, text)
        row["tools"][tool] = {
            "measures": scored(item, truth, text), "seconds": result["seconds"], "rss": result["rss"],
            "pages": max(1, len(result["pages"])), "failure": result["failure"],
            "empty_lines": sum(empty_lines(page) for page in result["pages"])}
    bound = order_bound_text(args.order_bound, os.path.join(args.tuning_dir, item["lines"]), page_aspect(source))
    write_text(os.path.join(args.out, "order-bound"), item, bound)
    row["bound"] = {"measures": scored(item, truth, bound), "empty_lines": empty_lines(bound)}
    return row


def mean(values):
    values = list(values)
    return sum(values) / max(1, len(values))


def percent(value):
    return "%.1f" % (100 * value)


def group_summary(rows, tool):
    figures = [row["tools"][tool] for row in rows if tool in row["tools"]]
    if not figures:
        return None
    pages = sum(f["pages"] for f in figures)
    return {
        "cer": mean(f["measures"][0] for f in figures), "free": mean(f["measures"][1] for f in figures),
        "wer": mean(f["measures"][2] for f in figures), "werf": mean(f["measures"][3] for f in figures),
        "spp": sum(f["seconds"] for f in figures) / pages, "rss": max(f["rss"] for f in figures),
        "empty": sum(f["empty_lines"] for f in figures) / pages,
        "failures": sum(1 for f in figures if f["failure"])}


def print_tables(groups, english, with_peer):
    print()
    print("Recognition, errors in percent (mean over items); WER for English groups only")
    print()
    header = ["group", "items", "CER ours", "free ours", "WER ours", "WERf ours", "s/page ours", "RSS MB ours"]
    if with_peer:
        header = ["group", "items", "CER ours", "CER peer", "free ours", "free peer", "free ratio",
                  "WER ours", "WER peer", "WERf ours", "WERf peer", "s/page ours", "s/page peer",
                  "RSS MB ours", "RSS MB peer"]
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join(" --- " for _ in header) + "|")
    for group, rows in groups.items():
        o, p = group_summary(rows, "ours"), group_summary(rows, "peer")
        is_english = group in english

        def word(s, key):
            return percent(s[key]) if is_english else "-"

        if with_peer:
            ratio = "%.2f" % (o["free"] / p["free"]) if p["free"] else "-"
            cells = [group, str(len(rows)), percent(o["cer"]), percent(p["cer"]), percent(o["free"]),
                     percent(p["free"]), ratio, word(o, "wer"), word(p, "wer"), word(o, "werf"),
                     word(p, "werf"), "%.2f" % o["spp"], "%.2f" % p["spp"], "%.0f" % o["rss"], "%.0f" % p["rss"]]
        else:
            cells = [group, str(len(rows)), percent(o["cer"]), percent(o["free"]), word(o, "wer"),
                     word(o, "werf"), "%.2f" % o["spp"], "%.0f" % o["rss"]]
        print("| " + " | ".join(cells) + " |")

    print()
    print("Reading order: ours against the ground-truth lines put through our own sort"
          " (errors in percent; empty lines per page)")
    print()
    header = ["group", "CER ours", "free ours", "CER gt-lines through our sort", "empty lines/page ours",
              "empty lines/page gt-lines sorted"]
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join(" --- " for _ in header) + "|")
    for group, rows in groups.items():
        o = group_summary(rows, "ours")
        bound = mean(row["bound"]["measures"][0] for row in rows)
        bound_empty = mean(row["bound"]["empty_lines"] for row in rows)
        print("| " + " | ".join([group, percent(o["cer"]), percent(o["free"]), percent(bound),
                                 "%.1f" % o["empty"], "%.1f" % bound_empty]) + " |")


def print_items(groups, english, with_peer):
    print()
    print("%-12s %-48s %7s %7s %7s %7s %7s %7s" % (
        "group", "item", "CER us", "free us", "WERf us", "CER pr", "free pr", "bound"))
    for group, rows in groups.items():
        for row in rows:
            o = row["tools"]["ours"]["measures"]
            p = row["tools"]["peer"]["measures"] if with_peer else None
            print("%-12s %-48s %7s %7s %7s %7s %7s %7s" % (
                group, row["item"]["id"][:48], percent(o[0]), percent(o[1]), percent(o[3]) if group in english else "-",
                percent(p[0]) if p else "-", percent(p[1]) if p else "-",
                percent(row["bound"]["measures"][0])))


def write_scores(folder, groups):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "scores.tsv"), "w", encoding="utf-8") as f:
        f.write("group\titem\tcer\torder_free\twer\twer_order_free\tseconds\trss_mb\tempty_lines\tfailure\n")
        for group, rows in groups.items():
            for row in rows:
                o = row["tools"]["ours"]
                f.write("%s\t%s\t%.4f\t%.4f\t%.4f\t%.4f\t%.2f\t%.0f\t%d\t%s\n" % (
                    (group, row["item"]["id"]) + tuple(o["measures"]) +
                    (o["seconds"], o["rss"], o["empty_lines"], o["failure"] or "")))


def main():
    args = parse_arguments()
    if not os.access(args.order_bound, os.X_OK):
        sys.exit("%s is missing: cmake --build build --target order_bound" % args.order_bound)
    items = load_items(args.tuning_dir, args.groups)
    cache = PeerCache(args.cache)
    results = {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        futures = {pool.submit(score_item, item, args, cache): item["id"] for item in items}
        for done, future in enumerate(concurrent.futures.as_completed(futures), 1):
            row = future.result()
            results[futures[future]] = row
            o = row["tools"]["ours"]
            print("[%d/%d] %s: ours %.1f s%s%s" % (
                done, len(items), futures[future], o["seconds"],
                " (failed: %s)" % o["failure"] if o["failure"] else "",
                "" if args.no_peer else ", peer %.1f s%s" % (
                    row["tools"]["peer"]["seconds"], " (cached)" if row["peer_cached"] else "")),
                file=sys.stderr)

    groups, english = {}, set()
    for item in items:
        groups.setdefault(item["group"], []).append(results[item["id"]])
        if item["lang"] == "en":
            english.add(item["group"])
    write_scores(os.path.join(args.out, args.label), groups)
    if args.items:
        print_items(groups, english, not args.no_peer)
    print_tables(groups, english, not args.no_peer)
    failures = [(row["item"]["id"], tool, figures["failure"]) for rows in groups.values() for row in rows
                for tool, figures in row["tools"].items() if figures["failure"]]
    for item_id, tool, failure in failures:
        print("failed: %s %s: %s (scored as empty text)" % (tool, item_id, failure))
    print()
    print("texts: %s (ours), %s, %s" % (os.path.join(args.out, args.label), os.path.join(args.out, "peer"),
                                        os.path.join(args.out, "order-bound")))


if __name__ == "__main__":
    main()
