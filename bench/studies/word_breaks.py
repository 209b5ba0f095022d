#!/usr/bin/python3
"""Word breaks on the English groups of the tuning corpus, measured offline.

usage: word_breaks.py TUNING_DIR [--groups en_forms,en_receipts,en_pdf]
                      [--corpus DIR] [--trace DIR] [--rule NAME ...]
                      [--attribute NAME] [--gaps FILE]

The decoder's view of every line (build/word_break_trace, cached under
--trace): its symbols and the figures of every gap its space rules weigh,
from the decoder itself. Each page's order-free word error is measured as
tuning_score.py measures it (lines are the tool's boxes; the page's words are
their words) with the decoder's breaks and with the network's spaces only.
Also printed, per group:

- the error with the best spacing this reading allows (an oracle that sets or
  clears each break between two symbols of a line to lower the page's error):
  what is left is character error, not word breaks;
- where one rule's breaks (--attribute) differ from that oracle's: spaces the
  network wrote itself, spaces each of the decoder's rules restored, and
  breaks missing. The oracle is optimistic: joining two wrong
  words into one also lowers the count.

--corpus adds the generated english pages of bench/run's corpus.

--gaps writes one row per gap a space rule weighed outside Han, with the
decoder's figures and the oracle's choice, for studying a rule.
"""
import argparse
import collections
import json
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CASE_FREE_GROUPS = {"en_receipts"}
ENGLISH = ["en_forms", "en_receipts", "en_pdf", "en_docs"]


def arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("tuning_dir")
    parser.add_argument("--groups", default="en_forms,en_receipts,en_pdf")
    parser.add_argument("--corpus", help="also the english group of a corpus made by make_corpus.py")
    parser.add_argument("--trace", default=os.path.join(ROOT, "build", "word-break-figures"))
    parser.add_argument("--tracer", default=os.path.join(ROOT, "build", "word_break_trace"))
    parser.add_argument("--rule", action="append", help="rules to score (default: all)")
    parser.add_argument("--gaps", help="write the gap table here")
    parser.add_argument("--attribute", default="decoder",
                        help="the rule compared with the oracle (default: the decoder's)")
    return parser.parse_args()


# ---------------------------------------------------------------- traces

def traces(args, items):
    """The trace of each item, made with the tracer when not cached."""
    os.makedirs(args.trace, exist_ok=True)
    dictionary_path = os.path.join(args.trace, "dictionary.json")
    if not os.path.exists(dictionary_path):
        out = subprocess.run([args.tracer, "--dictionary"], capture_output=True, check=True, text=True).stdout
        with open(dictionary_path, "w", encoding="utf-8") as f:
            f.write(out.splitlines()[0])
    with open(dictionary_path, encoding="utf-8") as f:
        dictionary = json.load(f)["dictionary"]
    result = {}
    for item in items:
        path = os.path.join(args.trace, item["id"].replace("/", "+") + ".json")
        if not os.path.exists(path):
            print("tracing", item["id"], file=sys.stderr)
            out = subprocess.run([args.tracer, item["input"]],
                                 capture_output=True, check=True, text=True).stdout
            with open(path, "w", encoding="utf-8") as f:
                f.write(out)
        with open(path, encoding="utf-8") as f:
            result[item["id"]] = [json.loads(line) for line in f if line.strip()]
    return dictionary, result


# ---------------------------------------------------------------- decoding

class Line:
    """A line as the decoder reads it: its symbols after the decoder's
    passes, whether the network wrote a space before each, and the gaps its
    space rules weighed, all from the decoder itself (word_break_trace)."""

    def __init__(self, trace):
        self.height, self.width = trace["height"], trace["width"]
        self.frames = len(trace["frames"])
        self.usual, self.pitch = trace["usual"], trace["pitch"]
        self.plain = []  # (symbol, the network wrote a space before it)
        index_of = {}
        spaced = False
        for k, symbol in enumerate(trace["symbols"]):
            if symbol == " ":
                spaced = True
                continue
            index_of[k] = len(self.plain)
            self.plain.append((symbol, spaced))
            spaced = False
        self.network_spaces = any(spaced for _, spaced in self.plain)
        self.gaps = {}  # index in plain of the symbol after the gap: the decoder's figures
        for after, rule, frames, evidence, needed in trace["gaps"]:
            if after in index_of:
                self.gaps[index_of[after]] = {"rule": rule, "frames": frames, "evidence": evidence,
                                              "needed": needed}

    def candidates(self):
        """Every place a break can go: (index in plain of the symbol after,
        whether the network wrote a space there)."""
        return [(i, self.plain[i][1]) for i in range(1, len(self.plain))]

    def text(self, breaks):
        """The line's text with a space before each symbol index in breaks."""
        out = []
        for i, (symbol, _) in enumerate(self.plain):
            if i in breaks:
                out.append(" ")
            out.append(symbol)
        return zero_in_numbers("".join(out)).strip()


def zero_in_numbers(text):
    """The decoder's last pass, which works on the text after the breaks."""
    out = list(text)
    i = 0
    while i < len(text):
        if not (text[i].isascii() and text[i].isalnum()):
            i += 1
            continue
        j = i
        while j < len(text) and text[j].isascii() and text[j].isalnum():
            j += 1
        word = text[i:j]
        if sum(c.isdigit() for c in word) >= 2 and all(c.isdigit() or c in "oO" for c in word):
            for k in range(i, j):
                if out[k] in "oO":
                    out[k] = "0"
        i = j
    return "".join(out)


def is_han(s):
    return len(s) == 1 and ("\u3400" <= s <= "\u9fff" or "\uf900" <= s <= "\ufaff")


def rule_decoder(line):
    """The decoder's breaks: the network's spaces, and each gap whose
    evidence exceeds what its rule needs. Returns {index: source}."""
    breaks = {}
    for i, network in line.candidates():
        gap = line.gaps.get(i)
        if network:
            breaks[i] = "network"
        elif gap and gap["evidence"] > gap["needed"]:
            breaks[i] = gap["rule"]
    return breaks


def rule_network_only(line):
    return {i: "network" for i, network in line.candidates() if network}


RULES = {
    "decoder": rule_decoder,
    "network-only": rule_network_only,
}


# ---------------------------------------------------------------- scoring

def words_of(text, case_free):
    return (text.upper() if case_free else text).split()


def errors(truth, tokens):
    return sum((truth - tokens).values()) + sum((tokens - truth).values())


def oracle(lines, truth, case_free, start):
    """Each line's breaks changed one at a time, kept where the page's word
    error drops; two passes."""
    breaks = [dict(b) for b in start]
    line_tokens = [collections.Counter(words_of(l.text(b), case_free)) for l, b in zip(lines, breaks)]
    page = sum(line_tokens, collections.Counter())
    for _ in range(2):
        for n, line in enumerate(lines):
            for i, _ in line.candidates():
                trial = dict(breaks[n])
                if i in trial:
                    del trial[i]
                else:
                    trial[i] = "oracle"
                tokens = collections.Counter(words_of(line.text(trial), case_free))
                candidate = page - line_tokens[n] + tokens
                # Counter subtraction drops zeros, which is what we want here.
                if errors(truth, candidate) < errors(truth, page):
                    breaks[n], line_tokens[n], page = trial, tokens, candidate
    return breaks


def main():
    args = arguments()
    with open(os.path.join(args.tuning_dir, "manifest.json"), encoding="utf-8") as f:
        items = [dict(i, input=os.path.join(args.tuning_dir, i["input"]))
                 for i in json.load(f)["items"] if i["group"] in args.groups.split(",")]
    for item in items:
        with open(os.path.join(args.tuning_dir, item["gt"]), encoding="utf-8") as f:
            item["truths"] = [f.read()]
    if args.corpus:
        folder = os.path.join(args.corpus, "english")
        for name in sorted(os.listdir(folder)):
            if not name.endswith(".truth"):
                with open(os.path.join(folder, name + ".truth"), encoding="utf-8") as f:
                    items.append({"id": "generated/" + name, "group": "generated english",
                                  "input": os.path.join(folder, name), "truths": f.read().split("\f")})
    _, traced = traces(args, items)
    rules = args.rule or list(RULES)
    gap_rows = []
    by_group = collections.defaultdict(lambda: collections.defaultdict(list))
    attribution = collections.defaultdict(collections.Counter)
    pages = []
    for item in items:
        for truth_text, page in zip(item["truths"], traced[item["id"]] + [{"lines": []}] * len(item["truths"])):
            pages.append((item, truth_text, page))
    for item, truth_text, page in pages:
        case_free = item["group"] in CASE_FREE_GROUPS
        truth = collections.Counter(words_of(truth_text, case_free))
        total = max(1, sum(truth.values()))
        lines = [Line(t) for t in page["lines"]]
        for name in rules:
            breaks = [RULES[name](line) for line in lines]
            tokens = collections.Counter()
            for line, b in zip(lines, breaks):
                tokens.update(words_of(line.text(b), case_free))
            by_group[item["group"]][name].append(errors(truth, tokens) / total)
        chosen = [RULES[args.attribute](line) for line in lines]
        best = oracle(lines, truth, case_free, chosen)
        tokens = collections.Counter()
        for line, b in zip(lines, best):
            tokens.update(words_of(line.text(b), case_free))
        by_group[item["group"]]["oracle"].append(errors(truth, tokens) / total)
        counts = attribution[item["group"]]
        for line, br, o in zip(lines, chosen, best):
            for i, network in line.candidates():
                if i in br:
                    counts["breaks " + br[i]] += 1
                    if i not in o:
                        counts["wrong " + br[i]] += 1
                elif i in o:
                    counts["missing"] += 1
                gap = line.gaps.get(i)
                prev, cur = line.plain[i - 1][0], line.plain[i][0]
                if args.gaps and gap and not (is_han(prev) or is_han(cur)):
                    plain = "".join(p[0] for p in line.plain)
                    gap_rows.append(dict(gap, **{
                        "id": item["id"], "group": item["group"], "prev": prev, "cur": cur,
                        "usual": line.usual, "pitch": line.pitch, "network_spaces": line.network_spaces,
                        "height": line.height, "width": line.width, "frames_in_line": line.frames,
                        "decoder": i in br, "oracle": i in o,
                        "context": plain[max(0, i - 8):i] + "|" + plain[i:i + 8],
                    }))
    print("%-12s %s" % ("group", " ".join("%14s" % r for r in rules + ["oracle"])))
    for group, scores in by_group.items():
        print("%-12s %s" % (group, " ".join("%13.1f%%" % (100 * sum(scores[r]) / len(scores[r]))
                                            for r in rules + ["oracle"])))
    print("\nbreaks of rule %s against the oracle's (counts over the group's lines):" % args.attribute)
    for group, counts in attribution.items():
        print(" ", group, ", ".join("%s %d" % kv for kv in sorted(counts.items())))
    if args.gaps:
        with open(args.gaps, "w", encoding="utf-8") as f:
            for row in gap_rows:
                f.write(json.dumps(row, ensure_ascii=False) + "\n")


if __name__ == "__main__":
    main()
