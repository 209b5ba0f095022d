#!/usr/bin/python3
"""The reading order alone, on a corpus made by make_corpus.py: the first
page of every file of the chosen groups is read once by the recogniser
(build/dump_observations, cached in --cache), then its boxes are put through
our reading order (build/order_bound) and scored against the page's truth.
Prints each page's ordered and order-free character error, and each kind's
gap between them: what the order alone costs on real detections, in seconds
once the cache is filled.

usage: corpus_order.py CORPUS_DIR [--groups layouts,...] [--cache DIR]
                       [--order-bound PROGRAM] [--dump PROGRAM]
"""
import argparse
import os
import subprocess

from score import measures
from tuning_score import order_bound_text, page_aspect

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def observed(path, cache, dump):
    """The recogniser's lines file for the first page of `path`, and the page's aspect."""
    lines = os.path.join(cache, os.path.basename(os.path.dirname(path)), os.path.basename(path) + ".lines.json")
    if not os.path.exists(lines):
        os.makedirs(os.path.dirname(lines), exist_ok=True)
        subprocess.run([dump, path, lines], capture_output=True, check=True)
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("corpus")
    parser.add_argument("--groups", default="layouts")
    parser.add_argument("--cache", default=os.path.join(ROOT, "build", "corpus-obs"))
    parser.add_argument("--order-bound", default=os.path.join(ROOT, "build", "order_bound"))
    parser.add_argument("--dump", default=os.path.join(ROOT, "build", "dump_observations"))
    args = parser.parse_args()
    print("| group | page | ordered CER % | order-free CER % | ordered - free |")
    print("| --- | --- | --- | --- | --- |")
    for group in args.groups.split(","):
        folder = os.path.join(args.corpus, group)
        for name in sorted(os.listdir(folder)):
            if name.endswith(".truth"):
                continue
            path = os.path.join(folder, name)
            with open(path + ".truth", encoding="utf-8") as f:
                truth = f.read().split("\f")[0]
            lines = observed(path, args.cache, args.dump)
            text = order_bound_text(args.order_bound, lines, page_aspect(path))
            cer, free = measures(truth, text)[:2]
            print("| %s | %s | %.2f | %.2f | %+.2f |" % (group, name, 100 * cer, 100 * free, 100 * (cer - free)))


if __name__ == "__main__":
    main()
