#!/usr/bin/python3
"""Word breaks on the English groups of the tuning corpus, measured offline.

usage: word_breaks.py TUNING_DIR [--groups en_forms,en_receipts,en_pdf]
                      [--corpus DIR] [--trace DIR] [--rule NAME ...]
                      [--attribute NAME] [--gaps FILE]

The decoder's view of every line (build/word_break_trace, cached under
--trace) is decoded again here with each word-break rule, and each page's
order-free word error is measured as tuning_score.py measures it (lines are
the tool's boxes; the page's words are their words). Also printed, per group:

- the error with the best spacing this reading allows (an oracle that sets or
  clears each break between two symbols of a line to lower the page's error):
  what is left is character error, not word breaks;
- where one rule's breaks (--attribute) differ from that oracle's: spaces the
  network wrote itself, spaces the rule restored from space evidence or from a
  wide gap, and breaks missing. The oracle is optimistic: joining two wrong
  words into one also lowers the count.

--corpus adds the generated english pages of bench/run's corpus.

--gaps writes one row per gap between two letters or digits, with its
features and the oracle's choice, for studying a rule.
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
    parser.add_argument("--trace", default=os.path.join(ROOT, "build", "word-break-trace"))
    parser.add_argument("--tracer", default=os.path.join(ROOT, "build", "word_break_trace"))
    parser.add_argument("--rule", action="append", help="rules to score (default: all)")
    parser.add_argument("--gaps", help="write the gap table here")
    parser.add_argument("--attribute", default="relative",
                        help="the rule compared with the oracle (default relative, the decoder's)")
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

def is_alnum(s):
    return len(s) == 1 and s.isascii() and s.isalnum()


def is_letter(s):
    return len(s) == 1 and s.isascii() and s.isalpha()


def is_han(s):
    return len(s) == 1 and ("\u3400" <= s <= "\u9fff" or "\uf900" <= s <= "\ufaff")


CLAUSE = set(",;:!?)")


class Line:
    """A line as the decoder sees it: the emitted symbols and the space
    class's probability per frame."""

    def __init__(self, trace, dictionary):
        space_class = len(dictionary) + 1
        self.height, self.width = trace["height"], trace["width"]
        self.space = [f[2] for f in trace["frames"]]
        self.emitted = []  # (symbol, frame, probability)
        previous = 0
        for frame, (best, p, _) in enumerate(trace["frames"]):
            if best != 0 and best != previous:
                symbol = " " if best == space_class else dictionary[best - 1]
                self.emitted.append((symbol, frame, p))
            previous = best
        self.network_spaces = any(e[0] == " " for e in self.emitted)
        gaps = [b[1] - a[1] for a, b in zip(self.emitted, self.emitted[1:]) if is_alnum(a[0]) and is_alnum(b[0])]
        self.letter_gaps = gaps

    def candidates(self):
        """Every place a break can go: between two emitted non-space symbols,
        with whether the network wrote a space there. Yields (index of the
        symbol after, network wrote a space)."""
        symbols = self.emitted
        out = []
        i = 0
        # Drop emitted spaces, remembering where they were.
        self.plain = []
        spaced = False
        for symbol, frame, p in symbols:
            if symbol == " ":
                spaced = True
                continue
            self.plain.append((symbol, frame, p, spaced))
            spaced = False
        for i in range(1, len(self.plain)):
            out.append((i, self.plain[i][3]))
        return out

    def space_evidence(self, i):
        a, b = self.plain[i - 1][1], self.plain[i][1]
        return max(self.space[a:b + 1])

    def text(self, breaks):
        """The line's text with a space before each symbol index in breaks."""
        out = []
        for i, (symbol, _, _, _) in enumerate(self.plain):
            if i in breaks:
                out.append(" ")
            out.append(symbol)
        return zero_in_numbers("".join(out)).strip()


def zero_in_numbers(text):
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


def median_gap(line):
    gaps = sorted(line.letter_gaps)
    return gaps[len(gaps) // 2] if gaps else 0


def kinds(line, i):
    prev = line.plain[i - 1][0]
    cur = line.plain[i][0]
    between_words = is_alnum(prev) and is_alnum(cur)
    after_clause = is_letter(cur) and prev in CLAUSE
    after_sentence = (cur.isascii() and cur.isupper() and len(cur) == 1 and prev == "." and i >= 2
                      and len(line.plain[i - 2][0]) == 1 and (line.plain[i - 2][0].islower()
                                                              or line.plain[i - 2][0].isdigit()))
    between_scripts = (is_han(prev) and is_alnum(cur)) or (is_alnum(prev) and is_han(cur))
    return between_words, after_clause, after_sentence, between_scripts


def rule_before(line, space_evidence=0.01, factor=2):
    """The decoder before the gap-relative rule: space evidence above 0.01
    anywhere from one letter's frame to the next's, or a gap of twice the
    line's median letter gap on a line where the network wrote no space.
    Returns {index: source} of breaks."""
    usual = median_gap(line) if len(line.letter_gaps) >= 4 and not line.network_spaces else 0
    breaks = {}
    for i, network in line.candidates():
        if network:
            breaks[i] = "network"
            continue
        words, clause, sentence, scripts = kinds(line, i)
        if not (words or clause or sentence or scripts):
            continue
        gap = line.plain[i][1] - line.plain[i - 1][1]
        if line.space_evidence(i) > space_evidence:
            breaks[i] = "evidence"
        elif words and usual >= 2 and gap >= factor * usual:
            breaks[i] = "wide gap"
    return breaks


def rule_network_only(line):
    return {i: "network" for i, network in line.candidates() if network}


def inner_evidence(line, i):
    """The space class's strongest frame strictly between two symbols: the
    frames that emit a symbol also carry the space probability of a space
    beside it."""
    a, b = line.plain[i - 1][1], line.plain[i][1]
    return max(line.space[a + 1:b], default=0.0)


def next_to_network_space(line, i):
    return line.plain[i - 1][3] or (i + 1 < len(line.plain) and line.plain[i + 1][3])


def inside_number(line, i):
    """A digit after a separator after a digit: "1,000", "12.99", "13:02"."""
    return (i >= 2 and line.plain[i][0].isdigit() and line.plain[i - 1][0] in ".,:"
            and line.plain[i - 2][0].isdigit())


def rule_relative(line, thresholds=(None, 0.1, 0.02, 0.01), unknown=0.03, any_ascii=True, adjacency=True,
                  inner=True, minimum_gaps=4, numbers=True, after_clause=0.01):
    """The decoder's rule: breaks from space evidence with a threshold set by
    how the gap compares with the line's median letter gap: thresholds[k] for
    a gap k-1 frames wider than the median (None: never), the last for any
    wider, `unknown` when the line has too few letters to know its spacing;
    the evidence only from the frames between the two symbols (`inner`), none
    beside a space the network wrote (`adjacency`), between any two ASCII
    symbols (`any_ascii`; else only the kinds the decoder took before), never
    inside a number (`numbers`); after a clause mark before a letter,
    `after_clause` at any gap (None: as any other gap)."""
    gaps = sorted(line.letter_gaps)
    usual = gaps[len(gaps) // 2] if len(gaps) >= minimum_gaps else None
    breaks = {}
    for i, network in line.candidates():
        if network:
            breaks[i] = "network"
            continue
        prev, cur = line.plain[i - 1][0], line.plain[i][0]
        words, clause, sentence, scripts = kinds(line, i)
        latin = prev.isascii() and cur.isascii() and prev.strip() and cur.strip()
        if not (words or clause or sentence or scripts or (any_ascii and latin)):
            continue
        if adjacency and next_to_network_space(line, i):
            continue
        if numbers and inside_number(line, i) and not scripts:
            continue
        evidence = inner_evidence(line, i) if inner else line.space_evidence(i)
        if scripts:
            if line.space_evidence(i) > 0.01:
                breaks[i] = "evidence"
            continue
        gap = line.plain[i][1] - line.plain[i - 1][1]
        if after_clause is not None and clause:
            threshold = after_clause
        elif usual is None:
            threshold = unknown
        else:
            k = min(len(thresholds) - 1, max(0, gap - usual + 1))
            threshold = thresholds[k]
        if threshold is not None and evidence > threshold:
            breaks[i] = "evidence"
    return breaks


RULES = {
    "before": rule_before,
    "network-only": rule_network_only,
    "relative": rule_relative,
    # Variants of it, each with one part changed, kept for their figures:
    "rel-old-kinds": lambda line: rule_relative(line, any_ascii=False),
    "rel-beside-space": lambda line: rule_relative(line, adjacency=False),
    "rel-end-frames": lambda line: rule_relative(line, inner=False),
    "rel-numbers": lambda line: rule_relative(line, numbers=False),
    "rel-clause-as-gap": lambda line: rule_relative(line, after_clause=None),
    "rel-usual-0.3": lambda line: rule_relative(line, thresholds=(None, 0.3, 0.02, 0.01)),
    "rel-usual-0.05": lambda line: rule_relative(line, thresholds=(None, 0.05, 0.02, 0.01)),
    "rel-wider-0.03": lambda line: rule_relative(line, thresholds=(None, 0.1, 0.03, 0.01)),
    "rel-wider-0.1": lambda line: rule_relative(line, thresholds=(None, 0.1, 0.1, 0.01)),
    "rel-flat-0.01": lambda line: rule_relative(line, thresholds=(0.01, 0.01, 0.01, 0.01)),
    "before-0.05": lambda line: rule_before(line, space_evidence=0.05),
    "before-0.1": lambda line: rule_before(line, space_evidence=0.1),
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
    dictionary, traced = traces(args, items)
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
        lines = [Line(t, dictionary) for t in page["lines"]]
        for line in lines:
            line.candidates()
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
            usual = median_gap(line)
            for i, network in line.candidates():
                if i in br:
                    counts["breaks " + br[i]] += 1
                    if i not in o:
                        counts["wrong " + br[i]] += 1
                elif i in o:
                    counts["missing"] += 1
                prev, cur = line.plain[i - 1][0], line.plain[i][0]
                if args.gaps and not (is_han(prev) or is_han(cur)):
                    a, b = line.plain[i - 1][1], line.plain[i][1]
                    plain = "".join(p[0] for p in line.plain)
                    gap_rows.append({
                        "id": item["id"], "group": item["group"], "prev": prev, "cur": cur,
                        "gap": b - a, "usual": usual, "letters": len(line.letter_gaps),
                        "network_spaces": line.network_spaces, "network": network,
                        "evidence": line.space_evidence(i),
                        "inner": max(line.space[a + 1:b], default=0.0),
                        "ends": (line.space[a], line.space[b]),
                        "next_network": i + 1 < len(line.plain) and line.plain[i + 1][3],
                        "prev_network": line.plain[i - 1][3],
                        "height": line.height, "width": line.width, "frames": len(line.space),
                        "rule": br.get(i, ""), "oracle": i in o,
                        "context": plain[max(0, i - 8):i] + "|" + plain[i:i + 8],
                    })
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
