#!/usr/bin/python3
"""Error measures for recognised text against ground truth.

cer: Levenshtein distance over characters / truth length, whitespace
     collapsed (ignored entirely where the text holds Chinese).
order_free: characters missing plus extra, counted as multisets, / truth
     length; reading-order differences do not count.
wer: Levenshtein distance over words / truth words.
wer_order_free: words missing plus extra, counted as multisets, / truth
     words; like order_free, it does not see reading order.
"""
import collections
import re
import sys


def has_cjk(text):
    return any("\u3400" <= ch <= "\u9fff" for ch in text)


def normalise(text, cjk):
    text = re.sub(r"\s+", " ", text).strip()
    return text.replace(" ", "") if cjk else text


def levenshtein(a, b):
    previous = list(range(len(b) + 1))
    for i, x in enumerate(a, 1):
        current = [i]
        for j, y in enumerate(b, 1):
            current.append(min(previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (x != y)))
        previous = current
    return previous[-1]


def measures(truth, got):
    cjk = has_cjk(truth)
    t, g = normalise(truth, cjk), normalise(got, cjk)
    cer = levenshtein(t, g) / max(1, len(t))
    tc = collections.Counter(t.replace(" ", ""))
    gc = collections.Counter(g.replace(" ", ""))
    order_free = (sum((tc - gc).values()) + sum((gc - tc).values())) / max(1, sum(tc.values()))
    tw, gw = truth.split(), got.split()
    wer = levenshtein(tw, gw) / max(1, len(tw))
    twc, gwc = collections.Counter(tw), collections.Counter(gw)
    wer_order_free = (sum((twc - gwc).values()) + sum((gwc - twc).values())) / max(1, len(tw))
    return cer, order_free, wer, wer_order_free


if __name__ == "__main__":
    truth = open(sys.argv[1], encoding="utf-8").read()
    got = open(sys.argv[2], encoding="utf-8").read()
    print("cer %.4f order_free %.4f wer %.4f wer_order_free %.4f" % measures(truth, got))
