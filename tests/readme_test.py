#!/usr/bin/env python3
"""Runs what README.md shows a user, and fails where the tool says otherwise.

- Every fenced block whose lines start with "$ " is a command and what it
  prints (standard output and error together): each command runs in a folder
  holding examples/sample.png and scan.pdf (two pages), with the built
  binary first on PATH as brindlewox-ocr, and must print exactly the lines
  that follow it.
- The document shown for examples/sample.png must be the tool's, byte for
  byte.
- The command line shown in README.md and in the man page's synopsis must be
  the tool's own usage line, and the man page must render without warnings.

usage: readme_test.py SOURCE_DIR BINARY TESTDATA_DIR
"""
import difflib
import os
import re
import shutil
import subprocess
import sys
import tempfile

failures = []


def fail(message):
    failures.append(message)
    print("readme_test: FAIL: " + message)


def commands(readme):
    """(command, expected lines) for each "$ " line of the fenced blocks."""
    found = []
    for block in re.findall(r"^```[a-z]*\n(.*?)^```$", readme, re.MULTILINE | re.DOTALL):
        if not block.startswith("$ "):
            continue
        for part in re.split(r"^\$ ", block, flags=re.MULTILINE)[1:]:
            command, _, output = part.partition("\n")
            found.append((command, output.splitlines()))
    return found


def main():
    source, binary, testdata = sys.argv[1:4]
    with open(os.path.join(source, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    if not shutil.which("man") or not shutil.which("jq"):
        fail("man or jq is missing: sh scripts/install-deps.sh installs them")
        return 1
    work = tempfile.mkdtemp(prefix="readme_test.")
    try:
        os.makedirs(os.path.join(work, "bin"))
        os.symlink(os.path.abspath(binary), os.path.join(work, "bin", "brindlewox-ocr"))
        os.makedirs(os.path.join(work, "run", "examples"))
        shutil.copy(os.path.join(source, "examples", "sample.png"), os.path.join(work, "run", "examples"))
        subprocess.run(["qpdf", "--empty", "--pages", os.path.join(testdata, "three_pages.pdf"), "1-2", "--",
                        os.path.join(work, "run", "scan.pdf")], check=True)
        environment = dict(os.environ, PATH=os.path.join(work, "bin") + os.pathsep + os.environ["PATH"])

        def run(command):
            return subprocess.run(["sh", "-c", command], cwd=os.path.join(work, "run"), env=environment,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace")

        shown = commands(readme)
        if len(shown) < 3:
            fail("README.md shows %d commands with their output, fewer than the 3 expected" % len(shown))
        for command, expected in shown:
            printed = run(command).stdout.splitlines()
            if printed != expected:
                fail("README.md shows\n  $ %s\n  %s\nthe tool prints\n  %s" % (
                    command, "\n  ".join(expected), "\n  ".join(printed)))
            else:
                print("readme_test: as shown: $ " + command)

        sample = re.search(r"for `examples/sample\.png` it is:\n\n```\n(.*?)\n```", readme, re.DOTALL)
        if not sample:
            fail("README.md no longer shows the document for examples/sample.png")
        else:
            result = run("brindlewox-ocr examples/sample.png out.json")
            with open(os.path.join(work, "run", "out.json"), encoding="utf-8") as f:
                document = f.read()
            if result.returncode != 0 or document != sample.group(1):
                fail("the document for examples/sample.png differs from README.md's:\n" + result.stdout + "".join(
                    difflib.unified_diff(sample.group(1).splitlines(True), document.splitlines(True), "README.md",
                                         "the tool's")))
            else:
                print("readme_test: the sample's document as shown")

        usage = run("brindlewox-ocr").stdout.strip()
        prefix = "OCR failed: Usage: "
        if not usage.startswith(prefix):
            fail("no usage line: " + usage)
        usage = usage[len(prefix):]
        block = re.search(r"^## Command line\n\n```\n(.*?)\n```", readme, re.MULTILINE | re.DOTALL)
        if not block or block.group(1) != usage:
            fail("README.md's command line is not the usage line %r" % usage)
        page = os.path.join(source, "doc", "brindlewox-ocr.1")
        rendered = subprocess.run(["man", "--warnings", "-l", page], env=dict(os.environ, MANWIDTH="200"),
                                  capture_output=True, text=True)
        if rendered.returncode != 0 or rendered.stderr:
            fail("the man page renders with: " + rendered.stderr)
        text = re.sub(r".\x08", "", rendered.stdout)
        synopsis = re.search(r"^SYNOPSIS\n\s+(.*?)\n\n", text, re.MULTILINE | re.DOTALL)
        if not synopsis or " ".join(synopsis.group(1).split()) != usage:
            fail("the man page's synopsis is not the usage line %r: %r" % (usage, synopsis and synopsis.group(1)))
    finally:
        shutil.rmtree(work)
    if failures:
        return 1
    print("readme_test: pass")
    return 0


if __name__ == "__main__":
    sys.exit(main())
