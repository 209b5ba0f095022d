#!/usr/bin/python3
"""Wall time and CPU seconds of this tool against the Tesseract peer, run
interleaved input by input so that all of them see the same load.

For every input: our tool; the peer with three languages (chi_sim+chi_tra+eng,
one thread, PDF pages drawn by pdftoppm at 187.2 dpi first, counted in its
time); and on English groups the peer with -l eng alone. CPU seconds are user
plus system of the process and all its threads (wait4's rusage). Per group it
prints the sums and the ratios ours / peer.

usage: peer_ratio.py BINARY [--tuning DIR] [--corpus DIR] [--groups g1,g2] [--per-group N] [--repeat N]
  --tuning: the tuning corpus (its manifest's groups); --corpus: bench/run's
  generated corpus (one group per folder, every .pdf/.png/.jpg in it).
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

PEER_LANGUAGES = "chi_sim+chi_tra+eng"


def run(command, env=None):
    """(exit status, wall seconds, cpu seconds) of one process."""
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    _, status, usage = os.wait4(process.pid, 0)
    return os.waitstatus_to_exitcode(status), time.monotonic() - start, usage.ru_utime + usage.ru_stime


def ours(binary, path, work):
    status, wall, cpu = run([binary, path, os.path.join(work, "out.json")])
    return status == 0, wall, cpu


def peer(path, languages, work):
    env = dict(os.environ, OMP_THREAD_LIMIT="1")
    wall = cpu = 0.0
    images = [path]
    if path.lower().endswith(".pdf"):
        folder = tempfile.mkdtemp(dir=work)
        status, wall, cpu = run(["pdftoppm", "-r", "187.2", "-png", path, os.path.join(folder, "page")])
        if status != 0:
            return False, wall, cpu
        images = sorted(os.path.join(folder, name) for name in os.listdir(folder))
    for image in images:
        status, w, c = run(["tesseract", image, os.path.join(work, "peer"), "-l", languages], env=env)
        wall += w
        cpu += c
        if status != 0:
            return False, wall, cpu
    return True, wall, cpu


def tuning_groups(folder):
    with open(os.path.join(folder, "manifest.json"), encoding="utf-8") as f:
        manifest = json.load(f)
    groups = {}
    for item in manifest["items"] if isinstance(manifest, dict) else manifest:
        groups.setdefault(item["group"], []).append(os.path.join(folder, item["input"]))
    return groups


def corpus_groups(folder):
    groups = {}
    for group in sorted(os.listdir(folder)):
        path = os.path.join(folder, group)
        if os.path.isdir(path):
            inputs = sorted(os.path.join(path, name) for name in os.listdir(path)
                            if name.lower().endswith((".pdf", ".png", ".jpg", ".jpeg")))
            if inputs:
                groups["gen_" + group] = inputs
    return groups


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary")
    parser.add_argument("--tuning")
    parser.add_argument("--corpus")
    parser.add_argument("--groups")
    parser.add_argument("--per-group", type=int, default=0, help="at most this many inputs a group (0: all)")
    parser.add_argument("--repeat", type=int, default=1)
    args = parser.parse_args()
    groups = {}
    if args.tuning:
        groups.update(tuning_groups(args.tuning))
    if args.corpus:
        groups.update(corpus_groups(args.corpus))
    if args.groups:
        wanted = args.groups.split(",")
        groups = {name: inputs for name, inputs in groups.items() if name in wanted}
    if not groups:
        sys.exit("no inputs: give --tuning and/or --corpus")
    binary = os.path.realpath(args.binary)
    print("load before: %s" % " ".join(open("/proc/loadavg").read().split()[:3]))
    print("| group | inputs | ours wall | ours cpu | peer wall | peer cpu | eng wall | eng cpu | "
          "wall / peer | cpu / peer | cpu / eng |")
    print("| --- | --- | --- | --- | --- | --- | --- | --- | --- | --- | --- |")
    with tempfile.TemporaryDirectory() as work:
        for name, inputs in groups.items():
            if args.per_group:
                inputs = inputs[:args.per_group]
            english = name.startswith("en_") or name in ("gen_english",)
            sums = {key: 0.0 for key in ("ow", "oc", "pw", "pc", "ew", "ec")}
            failed = 0
            for _ in range(args.repeat):
                for path in inputs:
                    ok, w, c = ours(binary, path, work)
                    failed += not ok
                    sums["ow"] += w
                    sums["oc"] += c
                    ok, w, c = peer(path, PEER_LANGUAGES, work)
                    failed += not ok
                    sums["pw"] += w
                    sums["pc"] += c
                    if english:
                        ok, w, c = peer(path, "eng", work)
                        failed += not ok
                        sums["ew"] += w
                        sums["ec"] += c
            n = len(inputs) * args.repeat
            eng = ("%.2f | %.2f" % (sums["ew"] / n, sums["ec"] / n)) if english else "- | -"
            cpu_eng = ("%.2f" % (sums["oc"] / sums["ec"])) if english and sums["ec"] else "-"
            print("| %s | %d%s | %.2f | %.2f | %.2f | %.2f | %s | %.2f | %.2f | %s |" % (
                name, len(inputs), " (%d failed)" % failed if failed else "", sums["ow"] / n, sums["oc"] / n,
                sums["pw"] / n, sums["pc"] / n, eng, sums["ow"] / sums["pw"], sums["oc"] / sums["pc"], cpu_eng))
            sys.stdout.flush()
    print("seconds are per input; load after: %s" % " ".join(open("/proc/loadavg").read().split()[:3]))


if __name__ == "__main__":
    main()
