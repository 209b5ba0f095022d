#!/usr/bin/env python3
"""A parent application that runs brindlewox-ocr on one file, draws a live
progress bar from its marker lines, and reports the outcome.

usage: parent.py INPUT OUTPUT [brindlewox-ocr options...]

Only the standard library is used. The tool is the command named by the
BRINDLEWOX_OCR variable when that is set, else brindlewox-ocr on PATH, else
build/brindlewox-ocr beside this examples folder, where the quick start
leaves it. Before starting it, the --pages list is read the way the tool
reads it, with a warning when it selects every page or none.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import unicodedata

MARKER = "BRINDLEWOX_PROGRESS "
FAILURE = "OCR failed: "
BUILT = os.path.join(os.path.dirname(os.path.dirname(os.path.realpath(__file__))), "build", "brindlewox-ocr")


def say(message):
    print("parent.py: " + message, file=sys.stderr)


def find_tool():
    """The command to run, or None after saying in one line what to do."""
    named = os.environ.get("BRINDLEWOX_OCR")
    if named:
        if shutil.which(named):
            return named
        say("BRINDLEWOX_OCR=%s is not a program that can be run; set it to the brindlewox-ocr binary "
            "(such as build/brindlewox-ocr)" % named)
        return None
    found = shutil.which("brindlewox-ocr")
    if found:
        return found
    if os.path.isfile(BUILT) and os.access(BUILT, os.X_OK):
        return BUILT
    say("brindlewox-ocr is neither on PATH nor at %s: install the package, build it (sh scripts/build.sh), "
        "or set BRINDLEWOX_OCR to the binary" % BUILT)
    return None


# The tool's own reading of its options: an option is the first argument equal
# to its name, its value the argument after it; "--pages=2" is no option.
def option_value(name, arguments):
    if name not in arguments:
        return None
    i = arguments.index(name)
    return arguments[i + 1] if i + 1 < len(arguments) else None


def decimal_integer(text):
    if not re.fullmatch(r"[+-]?[0-9]+", text):
        return None
    value = int(text)
    return value if -2**63 <= value < 2**63 else None


def trimmed(text):
    # A tab and the Unicode space separators, not line breaks.
    def inline_space(c):
        return c == "\t" or unicodedata.category(c) == "Zs"
    start, end = 0, len(text)
    while start < end and inline_space(text[start]):
        start += 1
    while end > start and inline_space(text[end - 1]):
        end -= 1
    return text[start:end]


def page_selection(value):
    """The page numbers the tool selects with --pages VALUE (None: every
    page), and the entries it skips."""
    pages, skipped = set(), []
    for piece in value.split(","):
        if not piece:
            continue
        number = decimal_integer(trimmed(piece))
        if number is not None and number > 0:
            pages.add(number)
        else:
            skipped.append(piece)
    return pages or None, skipped


def extension(path):
    name = path.rstrip("/").rsplit("/", 1)[-1]
    dot = name.rfind(".")
    return name[dot + 1:].lower() if dot > 0 else ""


def pdf_page_count(path):
    """The page count from Poppler's pdfinfo where it is installed, else None."""
    pdfinfo = shutil.which("pdfinfo")
    if not pdfinfo:
        return None
    try:
        info = subprocess.run([pdfinfo, "--", path], capture_output=True, text=True, errors="replace", timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return None
    found = re.search(r"^Pages:\s+(\d+)$", info.stdout, re.MULTILINE)
    return int(found.group(1)) if info.returncode == 0 and found else None


def check_options(arguments):
    """Warns, before the run, where the tool will read the options otherwise
    than they look: what it takes for --pages, and what it will then do."""
    pdf = extension(arguments[0]) == "pdf"
    for argument in arguments[2:]:
        name, _, value = argument.partition("=")
        if value and name in ("--pages", "--progress-start", "--progress-end"):
            if name == "--pages":
                unread = "another --pages is read" if name in arguments else "every page will be read"
            else:
                unread = "its default is used" if name not in arguments else "another %s is read" % name
            say("warning: %s is not read as an option, %s (write %s %s)" % (argument, unread, name, value))
    if "--pages" not in arguments:
        return
    if not pdf:
        say("warning: --pages applies to PDF input only; the image is read whole")
        return
    if arguments.count("--pages") > 1:
        say("warning: only the first --pages is read")
    value = option_value("--pages", arguments)
    if value is None:
        say("warning: --pages has no list after it: every page will be read")
        return
    pages, skipped = page_selection(value)
    if pages is None:
        say("warning: --pages %s names no page number of 1 or more (ranges such as 1-3 and other text "
            "are skipped): every page will be read" % value)
        return
    if skipped:
        say("warning: --pages skips %s (not page numbers of 1 or more)" % ", ".join(repr(s) for s in skipped))
    count = pdf_page_count(arguments[0])
    if count is None:
        return
    beyond = sorted(p for p in pages if p > count)
    if len(beyond) == len(pages):
        say("warning: --pages %s selects none of the %d pages: the document will list no page, "
            "and no progress will show" % (value, count))
    elif beyond:
        say("warning: the PDF has %d pages; --pages %s selects %d of them"
            % (count, value, len(pages) - len(beyond)))


def bar(percent, completed, total, width=30):
    filled = width * percent // 100
    return "\r[%s%s] %3d%%  page %d of %d" % ("#" * filled, "." * (width - filled), percent, completed, total)


def main():
    if len(sys.argv) < 3:
        say("usage: parent.py INPUT OUTPUT [options...]")
        return 2
    tool = find_tool()
    if tool is None:
        return 2
    check_options(sys.argv[1:])
    try:
        process = subprocess.Popen([tool] + sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                   text=True, encoding="utf-8", errors="replace")
    except OSError as error:
        say("cannot run %s: %s" % (tool, error.strerror))
        return 2
    failure = None
    # The tool writes each line in one piece, so reading line by line is safe.
    for line in process.stderr:
        line = line.rstrip("\n")
        if line.startswith(MARKER):
            event = json.loads(line[len(MARKER):])
            sys.stdout.write(bar(event["percent"], event["completedPages"], event["totalPages"]))
            sys.stdout.flush()
        elif line.startswith(FAILURE):
            failure = line[len(FAILURE):]
    status = process.wait()
    print()
    if status != 0:
        print("failed (exit status %d): %s" % (status, failure or "no failure line"))
        return status
    with open(sys.argv[2], encoding="utf-8") as f:
        document = json.load(f)
    pages = document["pages"]
    print("done: %d of %d pages read into %s" % (len(pages), document["pageCount"], sys.argv[2]))
    for page in pages:
        first = page["text"].split("\n", 1)[0]
        print("  page %d (confidence %.2f): %s" % (page["page"], page["confidence"], first[:60]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
