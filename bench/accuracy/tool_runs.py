#!/usr/bin/python3
"""Runs of the two tools on one input, for the real-page scorers.

ours(binary, path): our tool's page texts, seconds and peak RSS; a failed run
    gives no pages and its failure line, so one bad item does not stop a run.
PeerCache: the Tesseract peer (pdftoppm at 187.2 dpi for PDF pages, then
    tesseract with chi_sim+chi_tra+eng and OMP_THREAD_LIMIT=1), with its
    results kept under build/ keyed by the input's path, size and mtime and
    the peer's settings: the peer is slow and does not change between runs of
    ours, so repeated runs only re-run our tool.
"""
import hashlib
import json
import os
import subprocess
import tempfile
import time

TESSERACT_LANGUAGES = "chi_sim+chi_tra+eng"


def run_measured(command, env=None):
    """Runs one process; returns (exit status, seconds, peak RSS in MB, stdout, stderr)."""
    with tempfile.TemporaryFile() as errors:
        start = time.monotonic()
        process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=errors, env=env)
        output = process.stdout.read()
        process.stdout.close()
        # wait4 rather than wait: it also gives the child's peak RSS.
        _, status, usage = os.wait4(process.pid, 0)
        seconds = time.monotonic() - start
        process.returncode = os.waitstatus_to_exitcode(status)
        errors.seek(0)
        return process.returncode, seconds, usage.ru_maxrss / 1024.0, output, errors.read()


def ours(binary, path):
    """Returns {"pages": [text...], "seconds", "rss", "failure"} for one input."""
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "out.json")
        status, seconds, rss, _, errors = run_measured([binary, path, out])
        pages, failure = [], None
        if status == 0:
            with open(out, encoding="utf-8") as f:
                pages = [page["text"] for page in json.load(f)["pages"]]
        else:
            lines = errors.decode("utf-8", "replace").strip().splitlines()
            failure = lines[-1] if lines else "exit %d" % status
    return {"pages": pages, "seconds": seconds, "rss": rss, "failure": failure}


def peer_uncached(path, psm=None):
    """The peer on one input: PDF pages rendered first, then tesseract per page."""
    env = dict(os.environ, OMP_THREAD_LIMIT="1")
    with tempfile.TemporaryDirectory() as work:
        seconds, rss = 0.0, 0.0
        if path.lower().endswith(".pdf"):
            status, s, r, _, _ = run_measured(["pdftoppm", "-r", "187.2", "-png", path, os.path.join(work, "page")])
            if status != 0:
                return {"pages": [], "seconds": s, "rss": r, "failure": "pdftoppm exit %d" % status}
            seconds, rss = s, r
            images = sorted(os.path.join(work, name) for name in os.listdir(work))
        else:
            images = [path]
        pages = []
        extra = ["--psm", str(psm)] if psm is not None else []
        for image in images:
            status, s, r, text, _ = run_measured(["tesseract", image, "-", "-l", TESSERACT_LANGUAGES] + extra, env=env)
            seconds += s
            rss = max(rss, r)
            if status != 0:
                return {"pages": pages, "seconds": seconds, "rss": rss, "failure": "tesseract exit %d" % status}
            pages.append(text.decode("utf-8", "replace"))
    return {"pages": pages, "seconds": seconds, "rss": rss, "failure": None}


class PeerCache:
    """Peer results on disk, one JSON file per input and peer setting."""

    def __init__(self, folder):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)

    def _key(self, path, psm):
        status = os.stat(path)
        return {"path": os.path.abspath(path), "size": status.st_size, "mtime_ns": status.st_mtime_ns,
                "languages": TESSERACT_LANGUAGES, "psm": psm, "dpi": 187.2}

    def _file(self, path, psm):
        digest = hashlib.sha1(("%s|%s" % (os.path.abspath(path), psm)).encode()).hexdigest()[:16]
        return os.path.join(self.folder, "%s-%s.json" % (os.path.basename(path), digest))

    def get(self, path, psm=None):
        """Returns (result, whether it came from the cache)."""
        key, file = self._key(path, psm), self._file(path, psm)
        try:
            with open(file, encoding="utf-8") as f:
                stored = json.load(f)
            if stored.get("key") == key and stored["result"]["failure"] is None:
                return stored["result"], True
        except (OSError, ValueError, KeyError):
            pass
        result = peer_uncached(path, psm)
        temporary = file + ".tmp%d" % os.getpid()
        with open(temporary, "w", encoding="utf-8") as f:
            json.dump({"key": key, "result": result}, f, ensure_ascii=False)
        os.replace(temporary, file)
        return result, False
