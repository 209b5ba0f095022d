#!/usr/bin/python3
"""Compares two builds of our tool on a corpus made by make_corpus.py, without
the peer: per group, seconds per page, character error, order-free character
error and, for groups with spaced words, word error and order-free word error,
for each build.
For measuring a change against the build before it.

usage: compare_builds.py BEFORE_BINARY AFTER_BINARY CORPUS_DIR
"""
import sys

from compare import GROUPS, WORD_GROUPS, corpus_items
from score import measures
from tool_runs import ours



def score(binary, corpus):
    rows = {}
    for group in GROUPS:
        seconds, pages, results = 0.0, 0, []
        for path, truths in corpus_items(corpus, group):
            run = ours(binary, path)
            seconds += run["seconds"]
            pages += len(truths)
            for truth, got in zip(truths, run["pages"] + [""] * len(truths)):
                results.append(measures(truth, got))
        rows[group] = (seconds / max(1, pages), [sum(r[i] for r in results) / max(1, len(results)) for i in range(4)])
    return rows


def main():
    before, after, corpus = sys.argv[1:4]
    scored = {"before": score(before, corpus), "after": score(after, corpus)}
    print("| group | build | s/page | CER | order-free | WER | WER order-free |")
    print("| --- | --- | --- | --- | --- | --- | --- |")
    for group in GROUPS:
        for label in ("before", "after"):
            seconds, (cer, free, wer, werf) = scored[label][group]
            words = ("%.3f | %.3f" % (wer, werf)) if group in WORD_GROUPS else "- | -"
            print("| %s | %s | %.2f | %.3f | %.3f | %s |" % (group, label, seconds, cer, free, words))


if __name__ == "__main__":
    main()
