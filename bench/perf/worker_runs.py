#!/usr/bin/python3
"""Runs builds of the tool as a parent does and prints, per run: how it ended
(exit status, signal, or killed at the cap), seconds, pages reported, and the
peak resident memory of the tool and of its decoding worker (each process's
VmHWM, sampled every 10 ms while it lives), and the most both held at once
(VmRSS of the tool plus its workers, summed at each sample). Builds are interleaved input by input, so that they share the load.

usage: worker_runs.py [--cap SECONDS] [--rounds N] BINARY[,BINARY...] INPUT [OPTIONS...] [-- INPUT ...]
  e.g. worker_runs.py before/brindlewox-ocr,build/brindlewox-ocr long.pdf -- page.png
"""
import argparse
import os
import signal
import subprocess
import tempfile
import time


def hwm(pid, field="VmHWM:"):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(field):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


def children(pid):
    found = []
    try:
        for task in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/children" % (pid, task)) as f:
                found += [int(c) for c in f.read().split()]
    except OSError:
        pass
    return found


def run(binary, arguments, cap):
    out = tempfile.NamedTemporaryFile(suffix=".json", delete=False).name
    err = tempfile.TemporaryFile()
    start = time.monotonic()
    process = subprocess.Popen([binary, arguments[0], out] + arguments[1:], stderr=err)
    tool, workers, together, killed = 0, {}, 0, False
    while process.poll() is None:
        tool = max(tool, hwm(process.pid))
        now = hwm(process.pid, "VmRSS:")
        for child in children(process.pid):
            workers[child] = max(workers.get(child, 0), hwm(child))
            now += hwm(child, "VmRSS:")
        together = max(together, now)
        if time.monotonic() - start > cap:
            process.send_signal(signal.SIGKILL)
            process.wait()
            killed = True
            break
        time.sleep(0.01)
    seconds = time.monotonic() - start
    for child in workers:  # a worker the tool left behind (it never should)
        try:
            os.kill(child, signal.SIGKILL)
        except OSError:
            pass
    err.seek(0)
    lines = err.read().decode("utf-8", "replace").splitlines()
    os.unlink(out)
    status = process.returncode
    ended = "killed at %d s" % cap if killed else ("signal %d" % -status if status < 0 else "exit %d" % status)
    pages = sum(1 for line in lines if line.startswith("BRINDLEWOX_PROGRESS"))
    last = lines[-1] if lines and not lines[-1].startswith("BRINDLEWOX_PROGRESS") else ""
    return ended, seconds, pages, tool / 2**20, sum(workers.values()) / 2**20, together / 2**20, last


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cap", type=float, default=60)
    parser.add_argument("--rounds", type=int, default=1)
    parser.add_argument("binaries")
    parser.add_argument("inputs", nargs=argparse.REMAINDER)
    options = parser.parse_args()
    binaries = options.binaries.split(",")
    inputs, current = [], []
    for word in options.inputs:
        if word == "--":
            inputs.append(current)
            current = []
        else:
            current.append(word)
    if current:
        inputs.append(current)
    print("%-34s %-24s %-14s %8s %5s %7s %9s %8s %9s  %s" % ("input", "build", "ended", "seconds", "pages", "tool MB",
                                                               "worker MB", "sum MB", "at once MB", "last line"))
    for arguments in inputs:
        for _ in range(options.rounds):
            for binary in binaries:
                ended, seconds, pages, tool, worker, together, last = run(binary, arguments, options.cap)
                name = " ".join([os.path.basename(arguments[0])] + arguments[1:])
                print("%-34s %-24s %-14s %8.2f %5d %7.0f %9.0f %8.0f %9.0f  %s" % (
                    name[:34], binary[-24:], ended, seconds, pages, tool, worker, tool + worker, together,
                    last[:60]), flush=True)


if __name__ == "__main__":
    main()
