#!/usr/bin/python3
"""Runs brindlewox-ocr and the peer pipeline (pdftoppm at 187.2 dpi, then
tesseract per page with chi_sim+chi_tra+eng and OMP_THREAD_LIMIT=1; images
straight to tesseract) on every file of a corpus made by make_corpus.py, and
prints per group: seconds per page, character error, order-free character
error, word error and order-free word error (groups with spaced words) and peak RSS, for both
and as ratios.

usage: compare.py BINARY CORPUS_DIR
"""
import os
import subprocess
import sys
import time

from score import measures
import tool_runs

GROUPS = ("english", "simplified", "traditional", "mixed", "layouts", "code_english", "code_mixed")
# Groups whose pages have words set apart by spaces, so word error is printed.
WORD_GROUPS = ("english", "mixed", "code_english", "code_mixed")


def corpus_items(corpus, group):
    """Each input file of a group with the truth of its pages."""
    folder = os.path.join(corpus, group)
    for name in sorted(os.listdir(folder)):
        if name.endswith(".truth"):
            continue
        path = os.path.join(folder, name)
        with open(path + ".truth", encoding="utf-8") as f:
            yield path, f.read().split("\f")


def succeeded(result, tool):
    """(seconds, peak RSS in MB, page texts) of a run that must not fail."""
    if result["failure"] is not None:
        raise RuntimeError("%s failed: %s" % (tool, result["failure"]))
    return result["seconds"], result["rss"], result["pages"]


def ours(binary, path):
    return succeeded(tool_runs.ours(binary, path), binary)


def peer(path):
    return succeeded(tool_runs.peer_uncached(path), "the peer")


def main():
    binary, corpus = sys.argv[1], sys.argv[2]
    rows = []
    for group in GROUPS:
        totals = {"ours": [0.0, 0.0, []], "peer": [0.0, 0.0, []]}
        page_count = 0
        for path, truths in corpus_items(corpus, group):
            page_count += len(truths)
            for tool, result in (("ours", ours(binary, path)), ("peer", peer(path))):
                seconds, rss, pages = result
                totals[tool][0] += seconds
                totals[tool][1] = max(totals[tool][1], rss)
                for truth, got in zip(truths, pages + [""] * len(truths)):
                    totals[tool][2].append(measures(truth, got))
        rows.append((group, page_count, totals))

    def mean(values, index):
        return sum(v[index] for v in values) / max(1, len(values))

    print("%-12s %5s | %8s %8s %6s | %7s %7s | %8s %8s %6s | %7s %7s | %8s %8s | %7s %7s" % (
        "group", "pages", "s/p ours", "s/p peer", "ratio", "CER us", "CER pr", "free us", "free pr", "ratio",
        "WER us", "WER pr", "WERf us", "WERf pr", "RSS us", "RSS pr"))
    for group, pages, totals in rows:
        o, p = totals["ours"], totals["peer"]
        sp_o, sp_p = o[0] / pages, p[0] / pages
        free_o, free_p = mean(o[2], 1), mean(p[2], 1)
        wer = ("%7.3f %7.3f | %8.3f %8.3f" % (mean(o[2], 2), mean(p[2], 2), mean(o[2], 3), mean(p[2], 3))) \
            if group in WORD_GROUPS else "%7s %7s | %8s %8s" % ("-", "-", "-", "-")
        print("%-12s %5d | %8.2f %8.2f %6.2f | %7.3f %7.3f | %8.3f %8.3f %6.2f | %s | %7.0f %7.0f" % (
            group, pages, sp_o, sp_p, sp_o / sp_p, mean(o[2], 0), mean(p[2], 0), free_o, free_p,
            free_o / free_p if free_p else float("nan"), wer, o[1], p[1]))
    large = os.path.join(corpus, "large", "large_page.pdf")
    if os.path.exists(large):
        seconds, rss, _ = ours(binary, large)
        print("3201 x 3201 page: %.2f s, peak RSS %.0f MB" % (seconds, rss))
    start = time.monotonic()
    subprocess.run([binary], stderr=subprocess.DEVNULL)
    print("usage failure (no arguments): %.1f ms" % ((time.monotonic() - start) * 1000))


if __name__ == "__main__":
    main()
