#!/usr/bin/python3
"""Generates the comparison corpus from a seed: for each group (english,
simplified, traditional, mixed) a born-digital PDF with one- and two-column
pages at body sizes from 8 to 14 points, a scanned-looking image-only PDF
(slight skew, blur and noise) and scanned-looking JPEG pages, plus a large
1248 x 1248 point page (drawn as 3201 x 3201 pixels). The ground truth of
every page is written beside each file: NAME.truth holds its pages separated
by form feeds, each page's lines in reading order (first column, then second).
The group "layouts" holds pages whose order is hard, in English and in
simplified Chinese: a three-column gazette scanned at 72 and at 100 dpi, a
report with a key-figures sidebar at its left or right (some with a tab of
upright characters down the page's edge), and a table of two wide columns
whose descriptions wrap. The groups "code_english" and "code_mixed" hold
manual-like pages: bulleted lists (English, or Chinese with English words)
around a monospace code block, born-digital and scanned at 150 dpi.

usage: make_corpus.py OUT_DIR [--seed S] [--pages N]
"""
import argparse
import os
import random
import sys

import cairo
from PIL import Image, ImageDraw, ImageFilter, ImageFont

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "perf"))
from make_bench_data import CJK, SIMPLIFIED, sentence  # noqa: E402  (the benchmark pages' text)

GROUPS = ("english", "simplified", "traditional", "mixed")
LATIN_FAMILY = "DejaVu Serif"
LATIN_FILE = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf"
MONO_FAMILY = "DejaVu Sans Mono"
MONO_FILE = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"
CODE_GROUPS = ("code_english", "code_mixed")


def family_for(group, line):
    has_cjk = any("\u4e00" <= ch <= "\u9fff" for ch in line)
    if group == "traditional" or (group == "mixed" and has_cjk and any(ch in "們會經發醫學時問臺這說" for ch in line)):
        return "Noto Sans CJK TC"
    if has_cjk:
        return "Noto Sans CJK SC"
    return LATIN_FAMILY


def fill_lines(rng, group, width, measure):
    """Lines of whole sentences that fit `width` according to `measure`."""
    while True:
        line = ""
        while True:
            piece = sentence(rng, group)
            candidate = line + (" " if line else "") + piece
            if measure(candidate) > width:
                break
            line = candidate
        if line:
            yield line


def layout_page(rng, group, size, columns, page_width, page_height, margin, measure):
    """Positions (x, y, text) in points, and the page's truth in reading order."""
    gap = 24
    column_width = (page_width - 2 * margin - gap * (columns - 1)) / columns
    lines_per_column = int((page_height - 2 * margin) / (size * 1.5))
    placed, truth = [], []
    source = fill_lines(rng, group, column_width, lambda text: measure(text, size))
    for column in range(columns):
        x = margin + column * (column_width + gap)
        for row in range(lines_per_column):
            text = next(source)
            placed.append((x, margin + size + row * size * 1.5, text))
            truth.append(text)
    return placed, truth


def cairo_measure(context, group):
    def measure(text, size):
        context.select_font_face(family_for(group, text))
        context.set_font_size(size)
        return context.text_extents(text).x_advance
    return measure


def write_digital_pdf(path, rng, group, pages, page_size=(612, 792)):
    surface = cairo.PDFSurface(path, *page_size)
    context = cairo.Context(surface)
    truths = []
    for number in range(pages):
        size = rng.choice([8, 9, 10, 11, 12, 14])
        columns = 1 if number % 2 == 0 else 2
        placed, truth = layout_page(rng, group, size, columns, page_size[0], page_size[1], 60,
                                    cairo_measure(context, group))
        for x, y, text in placed:
            context.select_font_face(family_for(group, text))
            context.set_font_size(size)
            context.move_to(x, y)
            context.show_text(text)
        truths.append(truth)
        surface.show_page()
    surface.finish()
    write_truth(path, truths)


def pil_font(group, text, pixels):
    family = family_for(group, text)
    if family == LATIN_FAMILY:
        return ImageFont.truetype(LATIN_FILE, pixels)
    return ImageFont.truetype(CJK, pixels, index=3 if family.endswith("TC") else 2)


def scanned_page(rng, group, dpi=200):
    """A page drawn at `dpi`, then skewed, blurred and speckled like a scan."""
    scale = dpi / 72.0
    width, height = int(612 * scale), int(792 * scale)
    size = rng.choice([10, 11, 12, 14])
    columns = rng.choice([1, 2])

    def measure(text, points):
        return pil_font(group, text, int(points * scale)).getlength(text) / scale

    placed, truth = layout_page(rng, group, size, columns, 612, 792, 60, measure)
    image = Image.new("L", (width, height), 255)
    draw = ImageDraw.Draw(image)
    for x, y, text in placed:
        font = pil_font(group, text, int(size * scale))
        draw.text((x * scale, (y - size) * scale), text, font=font, fill=20)
    image = image.rotate(rng.uniform(-1.2, 1.2), resample=Image.BICUBIC, fillcolor=255, expand=False)
    image = image.filter(ImageFilter.GaussianBlur(radius=0.8))
    noise = Image.effect_noise((width, height), 18)
    image = Image.blend(image, noise, 0.12)
    return image.convert("RGB"), truth


def fill_to(rng, width, measure):
    """One line of words, as many as fit `width` by `measure`."""
    words = []
    while True:
        for word in sentence(rng, "english").split():
            if measure(" ".join(words + [word])) > width:
                return " ".join(words)
            words.append(word)


def fill_chars(rng, width, measure):
    """One line of Chinese characters, as many as fit `width` by `measure`."""
    line = ""
    while True:
        for ch in sentence(rng, "simplified"):
            if measure(line + ch) > width:
                return line
            line += ch


def filler(rng, chinese):
    """fill_to or fill_chars, by the page's language."""
    return (lambda width, measure: fill_chars(rng, width, measure)) if chinese else \
        (lambda width, measure: fill_to(rng, width, measure))


def body_font(chinese, pixels):
    return ImageFont.truetype(CJK, pixels, index=2) if chinese else ImageFont.truetype(LATIN_FILE, pixels)


def gazette_page(rng, dpi, chinese=False):
    """A newspaper page scanned at low resolution: a headline, then three
    columns at 10 points (lines 10-14 pixels high at 72-100 dpi) whose
    baselines are level across the columns. Truth: column by column."""
    scale = dpi / 72.0
    image = Image.new("L", (int(612 * scale), int(792 * scale)), 255)
    draw = ImageDraw.Draw(image)
    headline = body_font(chinese, int(20 * scale))
    body = body_font(chinese, int(10 * scale))
    fill = filler(rng, chinese)
    truth = ["县政公报" if chinese else "THE COUNTY GAZETTE"]
    draw.text((40 * scale, 20 * scale), truth[0], font=headline, fill=20)
    gap = 14
    width = (612 - 80 - 2 * gap) / 3
    for column in range(3):
        x = 40 + column * (width + gap)
        for row in range(58):
            line = fill(width * rng.uniform(0.85, 1.0), lambda text: body.getlength(text) / scale)
            draw.text((x * scale, (60 + row * 12) * scale), line, font=body, fill=20)
            truth.append(line)
    return image.convert("RGB"), truth


def sidebar_page(rng, sidebar_left, chinese=False, tab=None):
    """A report page at 150 dpi: a body column of 11-point text beside a
    strip of key figures (label and value rows at their own pitch), with a
    page heading above both and, given `tab`, those characters stacked
    upright down the page's outer edge beside the heading (a section tab).
    Truth: heading, tab, then strip and body each whole, the strip first
    when it stands left."""
    scale = 150 / 72.0
    image = Image.new("L", (int(612 * scale), int(792 * scale)), 255)
    draw = ImageDraw.Draw(image)
    heading = body_font(chinese, int(16 * scale))
    body = body_font(chinese, int(11 * scale))
    small = body_font(chinese, int(9 * scale))
    fill = filler(rng, chinese)
    title = "季度研究报告" if chinese else "Quarterly Research Report"
    draw.text((60 * scale, 40 * scale), title, font=heading, fill=20)
    strip_x, body_x = (60, 230) if sidebar_left else (412, 60)
    body_lines = []
    for row in range(38):
        line = fill(320 * rng.uniform(0.9, 1.0), lambda text: body.getlength(text) / scale)
        draw.text((body_x * scale, (90 + row * 16) * scale), line, font=body, fill=20)
        body_lines.append(line)
    strip_lines = []
    for row in range(16):
        label = fill(70, lambda text: small.getlength(text) / scale) or "Item"
        value = "%d.%d%%" % (rng.randint(1, 99), rng.randint(0, 9))
        y = (97 + row * 21) * scale
        draw.text((strip_x * scale, y), label, font=small, fill=20)
        draw.text(((strip_x + 100) * scale, y), value, font=small, fill=20)
        strip_lines += [label, value]
    truth = [title]
    if tab:
        # Down the right-hand margin, from the heading's level.
        tab_font = ImageFont.truetype(CJK, int(12 * scale), index=2)
        x = 578
        for i, ch in enumerate(tab):
            draw.text((x * scale, (36 + i * 15) * scale), ch, font=tab_font, fill=20)
        truth.append(tab)
    truth += strip_lines + body_lines if sidebar_left else body_lines + strip_lines
    return image.convert("RGB"), truth


def table_page(rng, chinese=False):
    """A reference table at 150 dpi with two wide columns (a name and its
    description, as in a manual's command | description table) under a
    heading; about one description in three wraps onto a second or third
    line, leaving the name side blank. Truth: row by row, each name before
    its description's lines."""
    scale = 150 / 72.0
    image = Image.new("L", (int(612 * scale), int(792 * scale)), 255)
    draw = ImageDraw.Draw(image)
    heading = body_font(chinese, int(14 * scale))
    body = body_font(chinese, int(10 * scale))
    fill = filler(rng, chinese)
    title = "命令与说明" if chinese else "Commands and their descriptions"
    draw.text((60 * scale, 50 * scale), title, font=heading, fill=20)
    truth = [title]
    y = 90
    while y < 700:
        name = fill(rng.uniform(120, 180), lambda text: body.getlength(text) / scale)
        draw.text((60 * scale, y * scale), name, font=body, fill=20)
        truth.append(name)
        for _ in range(rng.choice([1, 1, 2, 3])):
            line = fill(rng.uniform(250, 300), lambda text: body.getlength(text) / scale)
            draw.text((262 * scale, y * scale), line, font=body, fill=20)
            truth.append(line)
            y += 14
        y += 8
    return image.convert("RGB"), truth


# Pieces of shell commands and C-like code, as a manual prints them: words
# split by a fixed-pitch font's even gaps are what these pages measure.
COMMANDS = ("systemctl", "journalctl", "apt-get", "dpkg", "tar", "grep", "sed", "find", "chmod", "rsync", "mount",
            "ssh-keygen", "update-alternatives", "debsums", "lsblk", "ip")
OPTIONS = ("-u", "-xzf", "-C", "--since", "--status", "-rn", "--list", "-l", "-a", "--purge", "-i", "-p")
ARGUMENTS = ("ssh.service", "/etc/fstab", "archive.tar.gz", "/var/log", "today", "nginx", "target", "fnmatch(3)",
             "/tmp/build", "user@host", "sources.list", "README.md", "100", "T16", "2048", "0755")
IDENTIFIERS = ("count", "total", "index", "buffer", "length", "values", "primes", "result", "name", "size")


def code_line(rng):
    kind = rng.randrange(4)
    if kind == 0:
        words = [rng.choice(COMMANDS)] + [rng.choice(OPTIONS + ARGUMENTS) for _ in range(rng.randint(1, 4))]
        return "$ " + " ".join(words)
    if kind == 1:
        a, b = rng.sample(IDENTIFIERS, 2)
        return "for (int %s = 0; %s < %s; ++%s) {" % (a, a, b, a)
    if kind == 2:
        a, b = rng.sample(IDENTIFIERS, 2)
        return "    %s += %s[%d];" % (a, b, rng.randint(0, 99))
    a, b = rng.sample(IDENTIFIERS, 2)
    return "if (%s != %s) return %d;" % (a, b, rng.randint(0, 9))


def bullet_item(rng, mixed):
    """One short item of a bulleted list; mixed items are Chinese with an
    English command or word in them."""
    if not mixed:
        return "\u2022 " + sentence(rng, "english")
    han = lambda: "".join(rng.choice(SIMPLIFIED) for _ in range(rng.randint(3, 6)))
    return "\u2022 %s %s %s\uff0c%s\u3002" % (han(), rng.choice(COMMANDS), han(), han())


def code_page_lines(rng, mixed):
    """(text, monospace) rows of one page: a list, a code block, a list."""
    rows = [(bullet_item(rng, mixed), False) for _ in range(rng.randint(4, 6))]
    rows += [(code_line(rng), True) for _ in range(rng.randint(6, 9))]
    rows += [(bullet_item(rng, mixed), False) for _ in range(rng.randint(4, 6))]
    return rows


def code_font_family(text, monospace):
    if monospace:
        return MONO_FAMILY
    return "Noto Sans CJK SC" if any("\u4e00" <= ch <= "\u9fff" for ch in text) else LATIN_FAMILY


def write_code_pdf(path, rng, mixed, pages):
    surface = cairo.PDFSurface(path, 612, 792)
    context = cairo.Context(surface)
    truths = []
    for _ in range(pages):
        size = rng.choice([9, 10, 11])
        truth = []
        for row, (text, monospace) in enumerate(code_page_lines(rng, mixed)):
            context.select_font_face(code_font_family(text, monospace))
            context.set_font_size(size)
            context.move_to(60 + (20 if monospace else 0), 80 + row * size * 1.8)
            context.show_text(text)
            truth.append(text.strip())
        truths.append(truth)
        surface.show_page()
    surface.finish()
    write_truth(path, truths)


def scanned_code_page(rng, mixed, dpi=150):
    scale = dpi / 72.0
    image = Image.new("L", (int(612 * scale), int(792 * scale)), 255)
    draw = ImageDraw.Draw(image)
    size = rng.choice([10, 11])
    truth = []
    for row, (text, monospace) in enumerate(code_page_lines(rng, mixed)):
        if monospace:
            font = ImageFont.truetype(MONO_FILE, int(size * scale))
        elif any("\u4e00" <= ch <= "\u9fff" for ch in text):
            font = ImageFont.truetype(CJK, int(size * scale), index=2)
        else:
            font = ImageFont.truetype(LATIN_FILE, int(size * scale))
        draw.text(((60 + (20 if monospace else 0)) * scale, (70 + row * size * 1.8) * scale), text, font=font, fill=20)
        truth.append(text.strip())
    image = image.rotate(rng.uniform(-0.8, 0.8), resample=Image.BICUBIC, fillcolor=255, expand=False)
    image = image.filter(ImageFilter.GaussianBlur(radius=0.6))
    return image.convert("RGB"), truth


def write_truth(path, pages):
    with open(path + ".truth", "w", encoding="utf-8") as f:
        f.write("\f".join("\n".join(lines) for lines in pages))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--seed", type=int, default=5150)
    parser.add_argument("--pages", type=int, default=4, help="born-digital pages per group")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    rng = random.Random(args.seed)
    for group in GROUPS:
        folder = os.path.join(args.out, group)
        os.makedirs(folder, exist_ok=True)
        write_digital_pdf(os.path.join(folder, "digital.pdf"), rng, group, args.pages)
        scans = [scanned_page(rng, group) for _ in range(2)]
        scans[0][0].save(os.path.join(folder, "scanned.pdf"), save_all=True, append_images=[s[0] for s in scans[1:]],
                         resolution=200.0)
        write_truth(os.path.join(folder, "scanned.pdf"), [s[1] for s in scans])
        for i in range(2):
            image, truth = scanned_page(rng, group)
            path = os.path.join(folder, "photo%d.jpg" % i)
            image.save(path, quality=80)
            write_truth(path, [truth])
    # Layouts the reading order must get right, from a generator of their
    # own so that the other groups' pages stay as they were.
    layout_rng = random.Random(args.seed + 1)
    folder = os.path.join(args.out, "layouts")
    os.makedirs(folder, exist_ok=True)
    for name, (image, truth) in (("gazette72.png", gazette_page(layout_rng, 72)),
                                 ("gazette100.png", gazette_page(layout_rng, 100)),
                                 ("sidebar_left.png", sidebar_page(layout_rng, True)),
                                 ("sidebar_right.png", sidebar_page(layout_rng, False)),
                                 ("gazette72_zh.png", gazette_page(layout_rng, 72, True)),
                                 ("gazette100_zh.png", gazette_page(layout_rng, 100, True)),
                                 ("sidebar_tab.png", sidebar_page(layout_rng, True, tab="市场研究")),
                                 ("sidebar_tab_zh.png", sidebar_page(layout_rng, False, True, tab="行业研究")),
                                 ("table.png", table_page(layout_rng)),
                                 ("table_zh.png", table_page(layout_rng, True))):
        path = os.path.join(folder, name)
        image.save(path)
        write_truth(path, [truth])
    # Manual-like pages, from a generator of their own too.
    code_rng = random.Random(args.seed + 2)
    for group in CODE_GROUPS:
        folder = os.path.join(args.out, group)
        os.makedirs(folder, exist_ok=True)
        mixed = group == "code_mixed"
        write_code_pdf(os.path.join(folder, "digital.pdf"), code_rng, mixed, 2)
        image, truth = scanned_code_page(code_rng, mixed)
        path = os.path.join(folder, "scanned.png")
        image.save(path)
        write_truth(path, [truth])
    large = os.path.join(args.out, "large")
    os.makedirs(large, exist_ok=True)
    write_digital_pdf(os.path.join(large, "large_page.pdf"), rng, "mixed", 1, page_size=(1248, 1248))


if __name__ == "__main__":
    main()
