#!/usr/bin/python3
"""Writes the end-to-end test inputs into OUT_DIR: images in every accepted
format, PDFs with real text, and PDFs built byte by byte for page-box and
rotation cases. Everything is drawn from Debian's fonts, so nothing binary is
kept in the repository.

usage: make_test_data.py OUT_DIR
"""
import io
import math
import os
import random
import struct
import subprocess
import sys
import zlib

import cairo
from PIL import Image, ImageDraw, ImageFont, TiffImagePlugin

CJK = "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc"
CJK_SC, CJK_TC = 2, 3  # face indices inside the collection
LATIN = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"

ENGLISH_LINES = ["Quarterly report for the board", "Revenue grew by twelve percent"]
SIMPLIFIED_LINES = ["今天天气很好", "我们去公园散步"]
TRADITIONAL_LINES = ["這是繁體中文測試", "經濟發展與環境保護"]
# Characters the network tends to write in their simplified form (們, 沒).
TRADITIONAL_FORMS_LINES = ["我們的學校沒有問題", "這個價格很合理"]


def text_image(lines, font, size=(1000, 400), mode="RGB", background="white", ink="black"):
    image = Image.new(mode, size, background)
    draw = ImageDraw.Draw(image)
    for i, line in enumerate(lines):
        draw.text((60, 60 + i * 90), line, font=font, fill=ink)
    return image


def write_images(out):
    latin = ImageFont.truetype(LATIN, 44)
    simplified = ImageFont.truetype(CJK, 48, index=CJK_SC)
    traditional = ImageFont.truetype(CJK, 48, index=CJK_TC)

    english = text_image(ENGLISH_LINES, latin)
    english.save(os.path.join(out, "english.png"))
    english.save(os.path.join(out, "english.jpg"), quality=92)
    english.save(os.path.join(out, "english.bmp"))
    english.save(os.path.join(out, "english.webp"), lossless=True)
    english.save(os.path.join(out, "english.tiff"))
    # A PNG under a JPEG name: decoding goes by content.
    english.save(os.path.join(out, "png_named.jpg"), format="PNG")
    text_image(SIMPLIFIED_LINES, simplified).save(os.path.join(out, "simplified.png"))
    text_image(TRADITIONAL_LINES, traditional).save(os.path.join(out, "traditional.png"))
    text_image(TRADITIONAL_FORMS_LINES, traditional).save(os.path.join(out, "traditional_forms.png"))
    Image.new("RGB", (800, 600), "white").save(os.path.join(out, "blank.png"))

    # Stored turned a quarter to the left; orientation 6 says "turn right to show".
    turned = english.transpose(Image.Transpose.ROTATE_90)
    exif = Image.Exif()
    exif[0x0112] = 6
    turned.save(os.path.join(out, "exif_rotated.jpg"), quality=92, exif=exif.tobytes())

    # Black text on a transparent black background: flattened naively it is black on black.
    transparent = text_image(ENGLISH_LINES, latin, mode="RGBA", background=(0, 0, 0, 0), ink=(0, 0, 0, 255))
    transparent.save(os.path.join(out, "transparent.png"))

    # Two pages; only the first is read.
    second = text_image(["This second page is never read"], latin)
    english.save(os.path.join(out, "multipage.tiff"), save_all=True, append_images=[second])

    with open(os.path.join(out, "text_file.png"), "w") as f:
        f.write("this is not an image\n")

    english.save(os.path.join(out, "for_heic.png"))
    subprocess.run(["heif-enc", "-q", "90", "-o", os.path.join(out, "english.heic"),
                    os.path.join(out, "for_heic.png")], check=True, stdout=subprocess.DEVNULL)
    os.remove(os.path.join(out, "for_heic.png"))


def write_text_pdf(path, pages, size=(612, 792)):
    """One page per entry: (lines, font family) drawn at 24 points."""
    surface = cairo.PDFSurface(path, *size)
    context = cairo.Context(surface)
    for lines, family in pages:
        context.select_font_face(family)
        context.set_font_size(24)
        for i, line in enumerate(lines):
            context.move_to(72, 120 + i * 40)
            context.show_text(line)
        surface.show_page()
    surface.finish()


def raw_pdf(pages):
    """A minimal PDF with Helvetica text. Each page is a dict with 'media'
    (four numbers, written as given), optional 'crop' and 'rotate', and
    'content' (a content stream; bytes are written as they are, under the
    optional 'filter' names), and an optional 'form': a form XObject named
    /X1, given as (filter names, content bytes)."""
    objects = []

    def add(body):
        objects.append(body)
        return len(objects)

    catalog = add(None)
    tree = add(None)
    font = add(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
    kids = []
    for page in pages:
        stream = page["content"]
        stream = stream if isinstance(stream, bytes) else stream.encode()
        filters = b"/Filter [%s] " % page["filter"].encode() if "filter" in page else b""
        content = add(b"<< %s/Length %d >>\nstream\n" % (filters, len(stream)) + stream + b"\nendstream")
        entries = b"/Type /Page /Parent %d 0 R /MediaBox [%s] " % (tree, page["media"].encode())
        if "crop" in page:
            entries += b"/CropBox [%s] " % page["crop"].encode()
        if "rotate" in page:
            entries += b"/Rotate %d " % page["rotate"]
        resources = b"/Font << /F1 %d 0 R >>" % font
        if "form" in page:
            names, data = page["form"]
            form = add(b"<< /Type /XObject /Subtype /Form /BBox [%s] /Filter [%s] /Length %d >>\nstream\n"
                       % (page["media"].encode(), names.encode(), len(data)) + data + b"\nendstream")
            resources += b" /XObject << /X1 %d 0 R >>" % form
        entries += b"/Resources << %s >> /Contents %d 0 R" % (resources, content)
        kids.append(add(b"<< " + entries + b" >>"))
    objects[catalog - 1] = b"<< /Type /Catalog /Pages %d 0 R >>" % tree
    objects[tree - 1] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (
        b" ".join(b"%d 0 R" % k for k in kids), len(kids))

    out = io.BytesIO()
    out.write(b"%PDF-1.4\n")
    offsets = []
    for number, body in enumerate(objects, start=1):
        offsets.append(out.tell())
        out.write(b"%d 0 obj\n" % number + body + b"\nendobj\n")
    xref = out.tell()
    out.write(b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1))
    for offset in offsets:
        out.write(b"%010d 00000 n \n" % offset)
    out.write(b"trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, catalog, xref))
    return out.getvalue()


def text_at(x, y, text, size=28, matrix="1 0 0 1"):
    return "BT /F1 %d Tf %s %g %g Tm (%s) Tj ET\n" % (size, matrix, x, y, text)


def edge_to_edge_line(text, font_path, index, height, background=(255, 255, 255), ink=(0, 0, 0)):
    """One line whose ink comes within 2 pixels of every edge, like a tight
    screenshot: the font size is the largest whose ink fits height - 4."""
    size = height
    while True:
        font = ImageFont.truetype(font_path, size, index=index)
        left, top, right, bottom = font.getbbox(text)
        if bottom - top <= height - 4 or size <= 4:
            break
        size -= 1
    image = Image.new("RGB", (right - left + 40, bottom - top + 40), background)
    ImageDraw.Draw(image).text((20 - left, 20 - top), text, font=font, fill=ink)
    mask = image.convert("L").point(lambda v: 255 if abs(v - sum(background) / 3) > 40 else 0)
    x0, y0, x1, _ = mask.getbbox()
    return image.crop((x0 - 2, y0 - 2, x1 + 2, y0 - 2 + height))


ONE_LINE_ENGLISH = "Quarterly report for the board"
ONE_LINE_CHINESE = "比较文学成为一个有缺陷的词"


def write_one_line_images(out):
    for height in (16, 24, 32, 44, 64):
        edge_to_edge_line(ONE_LINE_ENGLISH, LATIN, 0, height).save(os.path.join(out, "line_en_%d.png" % height))
        edge_to_edge_line(ONE_LINE_CHINESE, CJK, CJK_SC, height).save(os.path.join(out, "line_zh_%d.png" % height))
    # The margin takes the image's own background, not white.
    edge_to_edge_line("Invoice total", LATIN, 0, 32, background=(40, 60, 90), ink=(250, 250, 220)).save(
        os.path.join(out, "line_dark.png"))


# A dense single column: 10-point text at 12-point leading, lines opening with
# glyphs of different side bearings, one with a subscript, a short last line.
DENSE_ENGLISH = [
    "The committee met on Tuesday to review the annual",
    "of budget and the plans for the coming winter season.",
    "Water samples showed H O levels within the limits,",
    "jumps in demand were expected after the new year,",
    "Arrangements for the spring term were approved.",
    "(see the minutes of the previous meeting for details)",
    "All members agreed.",
]
DENSE_CHINESE = [
    "从今天开始我们将对所有的项目进行一次全面的检查和评估",
    "命令行工具可以帮助用户快速完成大量重复性的日常工作",
    "一般来说水的化学式是H O并且在常温下为液体状态",
    "《用户手册》中详细说明了每一个选项的含义和用法",
    "（参见第三章）所有的配置文件都保存在用户目录中",
    "以上内容仅供参考。",
]


def blank_page(context, family):
    """A white page, black ink, in `family`."""
    context.set_source_rgb(1, 1, 1)
    context.paint()
    context.set_source_rgb(0, 0, 0)
    context.select_font_face(family)


def draw_dense_page(context, lines, family):
    """Lines at 10 points on 12-point leading from (72, 100); a subscript 2
    after "H" where a line has "H O"."""
    blank_page(context, family)
    for i, text in enumerate(lines):
        y = 100 + i * 12
        context.set_font_size(10)
        context.move_to(72, y)
        if "H O" in text:
            before, after = text.split("H O")
            context.show_text(before + "H")
            x, _ = context.get_current_point()
            context.set_font_size(6)
            context.move_to(x, y + 2)
            context.show_text("2")
            x, _ = context.get_current_point()
            context.set_font_size(10)
            context.move_to(x, y)
            context.show_text("O" + after)
        else:
            context.show_text(text)


def draw_layout_page(context):
    """A centred heading, a dense paragraph with an indented first line, and
    two columns at a wide pitch."""
    blank_page(context, "DejaVu Sans")
    context.set_font_size(18)
    context.move_to(230, 80)
    context.show_text("Annual Report")
    context.set_font_size(10)
    for i, text in enumerate(["Indented opening line of the paragraph here",
                              "second line starts at the margin as usual",
                              "third line starts at the margin as well"]):
        context.move_to(92 if i == 0 else 72, 140 + i * 12)
        context.show_text(text)
    for i, (left, right) in enumerate([("Left column first", "Right column first"),
                                       ("Left column second", "Right column second")]):
        context.move_to(72, 260 + i * 40)
        context.show_text(left)
        context.move_to(340, 260 + i * 40)
        context.show_text(right)


# Two columns of an article under a title that spans them, their lines on
# shared baselines, so that each row alone looks like one line across the gutter.
COLUMNS_ENGLISH = (
    "River Survey Results",
    ["The survey of the river began in early May,",
     "when the water was still high after the rain.",
     "Teams walked along the banks from the mill",
     "down to the harbour and counted the birds.",
     "Most of the nests were found near the bridge,",
     "where the reeds grow thick in the summer."],
    ["In the second week the teams took samples",
     "of the water at twelve points on the river.",
     "The samples were clean at every point but",
     "one, below the factory on the north bank.",
     "The council will check the water again soon",
     "and publish the results before the winter."])
COLUMNS_CHINESE = (
    "河流调查报告",
    ["五月初我们开始对这条河流进行调查",
     "当时雨后的河水仍然很高而且很急",
     "调查小组从旧磨坊一直走到港口边",
     "沿途记录了看到的每一种鸟类数量",
     "大部分鸟巢都在大桥附近被发现的",
     "那里夏天的芦苇长得又高又密"],
    ["第二周调查小组在河上十二个地点",
     "分别采集了水样并送到实验室化验",
     "结果显示几乎所有地点的水都干净",
     "只有北岸工厂下游的一个地点例外",
     "市政府决定在秋天再做一次检测",
     "并在冬天之前公布全部检测结果"])


def draw_columns_page(context, columns, family):
    """A title across the top, then two columns at 11 points on 16-point
    leading, 36 points apart."""
    title, left, right = columns
    blank_page(context, family)
    context.set_font_size(18)
    context.move_to(200, 90)
    context.show_text(title)
    context.set_font_size(11)
    for i, (first, second) in enumerate(zip(left, right)):
        context.move_to(60, 140 + i * 16)
        context.show_text(first)
        context.move_to(330, 140 + i * 16)
        context.show_text(second)


# A table of two wide columns under a heading: each command beside what it
# does, some descriptions wrapping onto a second line with the command side
# blank beside it. Both sides are wide enough to pass for text columns.
WIDE_TABLE = (
    "Commands and what they do",
    [("archive create --level 9 --threads 4", ["Packs the chosen folders into one file"]),
     ("archive list --long --sort by-date", ["Shows every file in it with its size and",
                                             "the date on which it was last changed"]),
     ("archive extract --keep --into here", ["Unpacks the files, keeping the archive"]),
     ("archive verify --strict --all-files", ["Reads each file back to compare sums,",
                                              "stopping at the first file that differs"]),
     ("archive delete --dry-run --verbose", ["Names the files it would remove, stops"])])


def draw_wide_table_page(context):
    """WIDE_TABLE at 11 points: commands at 40, descriptions at 320, lines
    16 points apart and 8 more between rows."""
    title, rows = WIDE_TABLE
    blank_page(context, "DejaVu Sans")
    context.set_font_size(16)
    context.move_to(60, 90)
    context.show_text(title)
    context.set_font_size(11)
    y = 140
    for command, description in rows:
        context.move_to(40, y)
        context.show_text(command)
        for line in description:
            context.move_to(320, y)
            context.show_text(line)
            y += 16
        y += 8


def write_layout_pages(out):
    pages = [("dense_english", lambda c: draw_dense_page(c, DENSE_ENGLISH, "DejaVu Sans")),
             ("dense_chinese", lambda c: draw_dense_page(c, DENSE_CHINESE, "Noto Sans CJK SC")),
             ("columns_english", lambda c: draw_columns_page(c, COLUMNS_ENGLISH, "DejaVu Sans")),
             ("columns_chinese", lambda c: draw_columns_page(c, COLUMNS_CHINESE, "Noto Sans CJK SC")),
             ("layout", draw_layout_page),
             ("wide_table", draw_wide_table_page)]
    for name, draw in pages:
        surface = cairo.PDFSurface(os.path.join(out, name + ".pdf"), 612, 792)
        draw(cairo.Context(surface))
        surface.finish()
        # The same page as a scan at 187.2 dpi, turned by 2 degrees.
        scale = 2.6
        image = cairo.ImageSurface(cairo.FORMAT_RGB24, int(612 * scale), int(792 * scale))
        context = cairo.Context(image)
        context.scale(scale, scale)
        draw(context)
        buffer = io.BytesIO()
        image.write_to_png(buffer)
        page = Image.open(io.BytesIO(buffer.getvalue())).convert("RGB")
        page.rotate(2, resample=Image.BICUBIC, fillcolor="white").save(os.path.join(out, name + "_skewed.png"))


TURNED_ENGLISH = ["Quarterly report for the board", "Revenue grew by twelve percent",
                  "Costs fell in every region", "The new office opens in March"]
TURNED_CHINESE = ["从今天开始我们将对所有的项目进行检查", "命令行工具可以帮助用户快速完成工作",
                  "所有的配置文件都保存在用户目录中", "以上内容仅供参考"]


def draw_lines_page(context, lines, family):
    blank_page(context, family)
    context.set_font_size(14)
    for i, text in enumerate(lines):
        context.move_to(72, 100 + i * 24)
        context.show_text(text)


def draw_labelled_page(context):
    """An upright page with one label running up its left margin."""
    draw_lines_page(context, TURNED_ENGLISH, "DejaVu Sans")
    context.save()
    context.move_to(40, 400)
    context.rotate(-math.pi / 2)
    context.set_font_size(12)
    context.show_text("DRAFT COPY ONLY")
    context.restore()


def draw_table_page(context):
    """A table whose column headers run up the page, over rows of figures."""
    blank_page(context, "DejaVu Sans")
    context.set_font_size(14)
    context.move_to(72, 80)
    context.show_text("Figures by quarter")
    context.set_font_size(11)
    headers = ["Revenue", "Expenses", "Balance"]
    for column, header in enumerate(headers):
        context.save()
        context.move_to(110 + column * 90, 190)
        context.rotate(-math.pi / 2)
        context.show_text(header)
        context.restore()
    for row in range(6):
        for column in range(len(headers)):
            context.move_to(92 + column * 90, 215 + row * 20)
            context.show_text("%d,%03d" % (1 + row + column, 120 + 37 * row + 11 * column))


def page_png(draw, width=612, height=792, scale=2.6):
    """The page as a scan at 187.2 dpi."""
    image = cairo.ImageSurface(cairo.FORMAT_RGB24, int(width * scale), int(height * scale))
    context = cairo.Context(image)
    context.scale(scale, scale)
    draw(context)
    buffer = io.BytesIO()
    image.write_to_png(buffer)
    return Image.open(io.BytesIO(buffer.getvalue())).convert("RGB")


def write_turned_pages(out):
    """Pages turned clockwise by 90, 180 and 270 degrees: as PNG, and as PDF
    pages whose content is drawn turned (no /Rotate)."""
    transposes = {90: Image.Transpose.ROTATE_270, 180: Image.Transpose.ROTATE_180, 270: Image.Transpose.ROTATE_90}
    for name, lines, family in [("turned_english", TURNED_ENGLISH, "DejaVu Sans"),
                                ("turned_chinese", TURNED_CHINESE, "Noto Sans CJK SC")]:
        def draw(context, lines=lines, family=family):
            draw_lines_page(context, lines, family)
        upright = page_png(draw)
        upright.save(os.path.join(out, name + ".png"))
        for degrees, transpose in transposes.items():
            upright.transpose(transpose).save(os.path.join(out, "%s_%d.png" % (name, degrees)))
            width, height = (792, 612) if degrees != 180 else (612, 792)
            surface = cairo.PDFSurface(os.path.join(out, "%s_%d.pdf" % (name, degrees)), width, height)
            context = cairo.Context(surface)
            context.translate(*{90: (792, 0), 180: (612, 792), 270: (0, 612)}[degrees])
            context.rotate(math.radians(degrees))
            draw(context)
            surface.finish()
    page_png(draw_labelled_page).save(os.path.join(out, "vertical_label.png"))
    page_png(draw_table_page).save(os.path.join(out, "turned_headers.png"))


def write_pdfs(out):
    write_text_pdf(os.path.join(out, "three_pages.pdf"), [
        (["Page one is about apples"], "DejaVu Sans"),
        (SIMPLIFIED_LINES, "Noto Sans CJK SC"),
        (TRADITIONAL_LINES, "Noto Sans CJK TC"),
    ])
    write_text_pdf(os.path.join(out, "five_pages.pdf"),
                   [(["This is page number %s" % word], "DejaVu Sans")
                    for word in ("one", "two", "three", "four", "five")])

    def save(name, pages):
        with open(os.path.join(out, name), "wb") as f:
            f.write(raw_pdf(pages))

    letter = "0 0 612 792"
    save("zero_width_page2.pdf", [
        {"media": letter, "content": text_at(72, 700, "First page")},
        {"media": "0 0 0 792", "content": text_at(72, 700, "Second page")},
        {"media": letter, "content": text_at(72, 700, "Third page")},
    ])
    # The media box starts at (100, 100); the crop box holds only the upper
    # line, the lower one lies outside it and must still be read.
    save("offset_media_box.pdf", [
        {"media": "100 100 712 892", "crop": "100 500 712 892",
         "content": text_at(172, 800, "INSIDE THE CROP BOX") + text_at(172, 200, "OUTSIDE THE CROP BOX")},
    ])
    # Drawn a quarter turn to the left in page space, so that a viewer, which
    # turns a /Rotate 90 page to the right, shows the words upright side by side.
    save("rotate90.pdf", [
        {"media": letter, "rotate": 90,
         "content": text_at(300, 60, "LEFT WORDS", 36, "0 1 -1 0") + text_at(300, 470, "RIGHT WORDS", 36, "0 1 -1 0")},
    ])
    # A quarter turn to the right in page space, shown by turning left.
    save("rotate270.pdf", [
        {"media": letter, "rotate": 270,
         "content": text_at(300, 700, "TURNED THE OTHER WAY", 36, "0 -1 1 0")},
    ])
    save("rotate180.pdf", [
        {"media": letter, "rotate": 180,
         "content": text_at(540, 400, "UPSIDE DOWN TEXT", 36, "-1 0 0 -1")},
    ])
    with open(os.path.join(out, "not_a_pdf.pdf"), "w") as f:
        f.write("plain text, not a PDF\n")


def png_with_header(width, height):
    """A PNG whose header declares the given size, with one tiny IDAT."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(b"\0" * 64))
            + chunk(b"IEND", b""))


def flate_bomb(size):
    """Twice-deflated content that inflates to `size` bytes (a multiple of
    1 MiB) of operands that no operator ever takes: the slowest thing to
    parse, since a drawing limit checked between operators never gets a turn.
    Made in a second and a few megabytes: every inner 1 MiB piece is
    compressed once after a full flush, so each is the same bytes."""
    rng = random.Random(11)
    tokens = [b"1", b"0.5", b"-7", b"(x)", b"/F1", b"/Gq"]
    block = b" ".join(rng.choice(tokens) for _ in range(1600))
    block = block[:block.rindex(b" ", 0, 8191)].ljust(8191) + b"\n"  # whole tokens only
    piece = block * 128
    inner = zlib.compressobj(9)
    first = inner.compress(piece) + inner.flush(zlib.Z_FULL_FLUSH)
    repeat = inner.compress(piece) + inner.flush(zlib.Z_FULL_FLUSH)
    checksum = 1
    for _ in range(size >> 20):
        checksum = zlib.adler32(piece, checksum)
    # An empty final block, then the checksum of everything inflated.
    end = b"\x03\x00" + struct.pack(">I", checksum)
    outer = zlib.compressobj(9)
    parts = [outer.compress(first)]
    parts += [outer.compress(repeat) for _ in range((size >> 20) - 1)]
    parts += [outer.compress(end), outer.flush()]
    return b"".join(parts)


def pdf_file(bodies):
    """A PDF whose objects are the given bodies, numbered from 1; the first is
    the catalog."""
    out = io.BytesIO()
    out.write(b"%PDF-1.5\n")
    offsets = []
    for number, body in enumerate(bodies, start=1):
        offsets.append(out.tell())
        out.write(b"%d 0 obj\n" % number + body + b"\nendobj\n")
    xref = out.tell()
    out.write(b"xref\n0 %d\n0000000000 65535 f \n" % (len(bodies) + 1))
    for offset in offsets:
        out.write(b"%010d 00000 n \n" % offset)
    out.write(b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(bodies) + 1, xref))
    return out.getvalue()


def stream_object(entries, data):
    return b"<< %s /Length %d >>\nstream\n" % (entries, len(data)) + data + b"\nendstream"


class PagesPdf:
    """Letter pages, each with its content stream, its resources and the
    objects they refer to (added with `add`, numbered as they come)."""

    def __init__(self):
        self.bodies = [b"<< /Type /Catalog /Pages 2 0 R >>", None]
        self.kids = []

    def add(self, body):
        self.bodies.append(body)
        return len(self.bodies)

    def page(self, content, resources=b"", content_entries=b""):
        contents = self.add(stream_object(content_entries, content))
        self.kids.append(self.add(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << %s >> "
                                  b"/Contents %d 0 R >>" % (resources, contents)))

    def bytes(self):
        self.bodies[1] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (
            b" ".join(b"%d 0 R" % k for k in self.kids), len(self.kids))
        return pdf_file(self.bodies)


def progressive_jpeg(width, height, mode="L"):
    """A progressive JPEG of a few hundred bytes whose frame header says
    width x height: libjpeg allocates and clears two bytes a sample for its
    coefficients before it gives out the first row (colour at full resolution
    in every channel)."""
    buffer = io.BytesIO()
    Image.new(mode, (64, 64), "white").save(buffer, "JPEG", progressive=True, subsampling=0)
    data = bytearray(buffer.getvalue())
    at = 2
    while data[at + 1] != 0xC2:  # to the progressive frame header
        at += 2 + struct.unpack(">H", data[at + 2:at + 4])[0]
    data[at + 5:at + 9] = struct.pack(">HH", height, width)
    return bytes(data)


def jpeg2000_codestream(width, height, components=1):
    """A JPEG 2000 codestream, written out by hand, of a blank grey picture of
    the given size: one tile, no wavelet levels, one empty packet a component.
    OpenJPEG decodes it into four bytes a sample."""
    size = struct.pack(">HHH8IH", 0xFF51, 38 + 3 * components, 0, width, height, 0, 0, width, height, 0, 0, components)
    size += bytes([7, 1, 1]) * components  # 8-bit samples, no subsampling
    coding = struct.pack(">HHBBHBBBBBB", 0xFF52, 12, 0, 0, 1, 0, 0, 4, 4, 0, 1)  # 64 x 64 blocks, reversible
    quantisation = struct.pack(">HHBB", 0xFF5C, 4, 0x40, 0x40)
    packets = bytes(components)
    tile = struct.pack(">HHHIBB", 0xFF90, 10, 0, 12 + 2 + len(packets), 0, 1) + b"\xff\x93" + packets
    return b"\xff\x4f" + size + coding + quantisation + tile + b"\xff\xd9"


def jbig2_segment(number, kind, data):
    """One segment in PDF's embedded JBIG2 form, on page 1, referring to none."""
    return struct.pack(">IBBBI", number, kind, 0, 1, len(data)) + data


def jbig2_page_info(width, height):
    return jbig2_segment(0, 48, struct.pack(">IIIIBH", width, height, 0, 0, 0, 0))


def jbig2_noise_page(width, height):
    """A JBIG2 page of the given size, filled by one arithmetic-coded generic
    region over a few random bytes: the decoder fills every pixel of the page
    and of the region whatever the bytes say."""
    rng = random.Random(5)
    # Arithmetic coding with template 0 and its four usual adaptive pixels.
    region = struct.pack(">IIIIB", width, height, 0, 0, 0) + bytes([0, 3, 0xFF, 0xFD, 0xFF, 2, 0xFE, 0xFE, 0xFE])
    return jbig2_page_info(width, height) + jbig2_segment(1, 38, region + bytes(rng.getrandbits(8) for _ in range(256)))


def fax_g4(image):
    """A page of dark ink on white as one CCITT group 4 strip, ink coded as
    black: libtiff codes runs of 0 bits as white, so the page is inverted
    before it becomes one bit a pixel."""
    inverted = image.point(lambda v: 255 - v).convert("1")
    TiffImagePlugin.STRIP_SIZE = 1 << 30  # one strip: strips cannot simply be joined
    buffer = io.BytesIO()
    inverted.save(buffer, "TIFF", compression="group4")
    tiff = Image.open(io.BytesIO(buffer.getvalue()))
    offsets, counts = tiff.tag_v2[273], tiff.tag_v2[279]
    assert len(offsets) == 1
    return buffer.getvalue()[offsets[0]:offsets[0] + counts[0]]


def write_bilevel_scans(out):
    """A page scanned at 300 dpi and kept as a CCITT group 4 image, and one
    kept as JBIG2 (a generic region coded with the same group 4 bits, as a
    JBIG2 encoder's lossless mode may)."""
    width, height = 2550, 3300
    font = ImageFont.truetype(LATIN, 80)
    document = PagesPdf()
    image = b"/Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceGray /BitsPerComponent 1 " % (
        width, height)
    for line, codec in (("Faxed page from the office", "fax"), ("Bitmap page from the archive", "jbig2")):
        scan = Image.new("L", (width, height), 255)
        ImageDraw.Draw(scan).text((200, 300), line, font=font, fill=0)
        g4 = fax_g4(scan)
        if codec == "fax":
            entries = image + b"/Filter /CCITTFaxDecode /DecodeParms << /K -1 /Columns %d /Rows %d >>" % (width, height)
            data = g4
        else:
            entries = image + b"/Filter /JBIG2Decode"
            region = struct.pack(">IIIIB", width, height, 0, 0, 0) + b"\x01"  # coded with MMR
            data = jbig2_page_info(width, height) + jbig2_segment(1, 39, region + g4) + jbig2_segment(2, 49, b"")
        scan_object = document.add(stream_object(entries, data))
        document.page(b"q 612 0 0 792 0 0 cm /Scan Do Q\n", b"/XObject << /Scan %d 0 R >>" % scan_object)
    with open(os.path.join(out, "bilevel_scans.pdf"), "wb") as f:
        f.write(document.bytes())


# The pages of hostile_codec_bombs.pdf, in order, for the tests to name.
CODEC_BOMB_PAGES = [
    "content under DCTDecode", "content under JPXDecode", "content under JBIG2Decode",
    "content under CCITTFaxDecode", "JPEG image", "JPEG 2000 image", "JBIG2 image", "CCITT fax image",
    "form under JBIG2Decode", "tiling pattern under DCTDecode", "Type 3 glyph under JPXDecode",
    "inline JPEG image", "Flate image"]


def write_codec_bombs(out):
    """hostile_codec_bombs.pdf: one bomb a page, each a few kilobytes that an
    image codec's decoder turns into gigabytes (or declares as many) before it
    hands out a byte. Content streams under an image codec, images whose
    dictionary declares 1000 x 1000 pixels and whose codec decodes gigabytes,
    images that declare gigabytes, and the same codecs on a form, a tiling
    pattern and a Type 3 glyph."""
    # Within the pixel bound, and past the memory one.
    jpeg = progressive_jpeg(16000, 16000, "RGB")   # 1.5 GB of coefficients
    jpeg2000 = jpeg2000_codestream(16000, 16000, 2)  # 2 GB of samples
    jbig2 = jbig2_noise_page(60000, 60000)         # two 450 MB bitmaps, 7 billion pixels decoded
    fax = b"\xff" * 16384                          # 131072 rows of 100000 columns: 1.6 GB
    fax_parameters = b"/DecodeParms << /K -1 /Columns 100000 >>"
    document = PagesPdf()
    for name, data, parameters in (("DCTDecode", jpeg, b""), ("JPXDecode", jpeg2000, b""),
                                   ("JBIG2Decode", jbig2, b""), ("CCITTFaxDecode", fax, fax_parameters)):
        document.page(data, content_entries=b"/Filter /%s %s" % (name.encode(), parameters))
    draw = b"q 612 0 0 792 0 0 cm /Im1 Do Q\n"

    def image_page(width, height, bits, filters, data):
        image = document.add(stream_object(
            b"/Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceGray /BitsPerComponent %d %s"
            % (width, height, bits, filters), data))
        document.page(draw, b"/XObject << /Im1 %d 0 R >>" % image)

    image_page(1000, 1000, 8, b"/Filter /DCTDecode", jpeg)
    image_page(1000, 1000, 8, b"/Filter /JPXDecode", jpeg2000)
    image_page(1000, 1000, 1, b"/Filter /JBIG2Decode", jbig2)
    image_page(100000, 100000, 1, b"/Filter /CCITTFaxDecode " + fax_parameters, fax)
    form = document.add(stream_object(b"/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Filter /JBIG2Decode", jbig2))
    document.page(b"q /X1 Do Q\n", b"/XObject << /X1 %d 0 R >>" % form)
    pattern = document.add(stream_object(
        b"/Type /Pattern /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 100 100] /XStep 100 /YStep 100 "
        b"/Resources << >> /Filter /DCTDecode", jpeg))
    document.page(b"/Pattern cs /P1 scn 0 0 612 792 re f\n", b"/Pattern << /P1 %d 0 R >>" % pattern)
    glyph = document.add(stream_object(b"/Filter /JPXDecode", jpeg2000))
    font = document.add(b"<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] /FontMatrix [0.001 0 0 0.001 0 0] "
                        b"/CharProcs << /g %d 0 R >> /Encoding << /Type /Encoding /Differences [65 /g] >> "
                        b"/FirstChar 65 /LastChar 65 /Widths [1000] /Resources << >> >>" % glyph)
    document.page(b"BT /T3 48 Tf 72 700 Td (AAAA) Tj ET\n", b"/Font << /T3 %d 0 R >>" % font)
    document.page(b"q 612 0 0 792 0 0 cm BI /W 1000 /H 1000 /CS /G /BPC 8 /F /DCT ID " + jpeg + b"\nEI Q\n")
    # A time bomb for the filters that stream: 3.6 billion pixels declared over 100 kB of zeros.
    image_page(60000, 60000, 8, b"/Filter /FlateDecode", zlib.compress(bytes(100000), 9))
    assert len(document.kids) == len(CODEC_BOMB_PAGES)
    with open(os.path.join(out, "hostile_codec_bombs.pdf"), "wb") as f:
        f.write(document.bytes())


# The pages of hostile_data_bombs.pdf, in order.
DATA_BOMB_PAGES = ["embedded font under Flate", "colour profile under Flate", "sampled function",
                   "image mask drawn huge"]


def write_data_bombs(out):
    """hostile_data_bombs.pdf: bombs that need no image codec, a page each:
    an embedded font and a colour profile of tens of kilobytes that inflate to
    over a gigabyte (drawing reads both whole), a function whose table of 262
    million samples Poppler holds as 2 GB of doubles (just under its own
    limit), and a 2 x 2 image mask drawn 15000 times its size, which Splash
    scales to a 1.5 GB mask before it clips it to the page."""
    bomb = flate_bomb(1100 << 20)
    flate = b"/Filter [/FlateDecode /FlateDecode]"
    document = PagesPdf()
    font_file = document.add(stream_object(flate, bomb))
    descriptor = document.add(b"<< /Type /FontDescriptor /FontName /Bomb /Flags 32 /FontBBox [0 0 1000 1000] "
                              b"/ItalicAngle 0 /Ascent 800 /Descent -200 /CapHeight 700 /StemV 80 "
                              b"/FontFile2 %d 0 R >>" % font_file)
    font = document.add(b"<< /Type /Font /Subtype /TrueType /BaseFont /Bomb /FirstChar 65 /LastChar 65 "
                        b"/Widths [600] /FontDescriptor %d 0 R >>" % descriptor)
    document.page(b"BT /F1 24 Tf 72 700 Td (AAAA) Tj ET\n", b"/Font << /F1 %d 0 R >>" % font)
    profile = document.add(stream_object(b"/N 3 " + flate, bomb))
    document.page(b"/P1 cs 0.5 0.5 0.5 sc 72 72 200 200 re f\n", b"/ColorSpace << /P1 [/ICCBased %d 0 R] >>" % profile)
    function = document.add(stream_object(
        b"/FunctionType 0 /Domain [0 1 0 1] /Range [0 1] /Size [16384 16000] /BitsPerSample 8", bytes(256)))
    shading = document.add(b"<< /ShadingType 1 /ColorSpace /DeviceGray /Domain [0 1 0 1] /Function %d 0 R >>"
                           % function)
    document.page(b"q 612 0 0 792 0 0 cm /S1 sh Q\n", b"/Shading << /S1 %d 0 R >>" % shading)
    mask = document.add(stream_object(b"/Type /XObject /Subtype /Image /Width 2 /Height 2 /ImageMask true "
                                      b"/BitsPerComponent 1", bytes([0x40, 0x80])))
    document.page(b"q 15000 0 0 15000 -7000 -7000 cm /M1 Do Q\n", b"/XObject << /M1 %d 0 R >>" % mask)
    assert len(document.kids) == len(DATA_BOMB_PAGES)
    with open(os.path.join(out, "hostile_data_bombs.pdf"), "wb") as f:
        f.write(document.bytes())

# The pages of hostile_worker_bombs.pdf, in order: what no check made before
# drawing foresees, stopped by the decoding worker's limits.
WORKER_BOMB_PAGES = ["deep filter chain", "form drawn 200,000 times", "path of 10,000 page-wide segments"]


def write_worker_bombs(out):
    """hostile_worker_bombs.pdf, a page each: a content stream under a
    million /RL filters (Poppler's filter chain recurses once per filter and
    overflows its stack), 200,000 Do of a page-sized form (each form resets
    Poppler's abort check, so drawing runs for many minutes), and one stroked
    path of 10,000 segments across the page (Splash's scan lines for it take
    gigabytes). hostile_scan_flood.jpg: a progressive JPEG whose frame says
    8192 x 8192, followed by 25,000 empty ten-byte scans, each of which
    libjpeg walks over every block."""
    document = PagesPdf()
    document.page(b"BT ET\n", content_entries=b"/Filter [" + b"/RL " * 1000000 + b"]")
    form = document.add(stream_object(b"/Type /XObject /Subtype /Form /BBox [0 0 612 792]",
                                      b"0.5 g 0 0 612 792 re f 0 g 72 72 468 648 re f\n"))
    document.page(b"q /F1 Do Q\n" * 200000, b"/XObject << /F1 %d 0 R >>" % form)
    corners = [b"612 792 l", b"0 792 l", b"612 0 l", b"0 0 l"]
    path = b"0 0 m " + b" ".join(corners[i % 4] for i in range(10000)) + b" 20 w S\n"
    document.page(path)
    assert len(document.kids) == len(WORKER_BOMB_PAGES)
    with open(os.path.join(out, "hostile_worker_bombs.pdf"), "wb") as f:
        f.write(document.bytes())

    jpeg = progressive_jpeg(8192, 8192)
    assert jpeg.endswith(b"\xff\xd9")
    # Spectral band 1 to 1 of the one component, first pass, no entropy data.
    scan = b"\xff\xda" + struct.pack(">HBBBBBB", 8, 1, 1, 0x00, 1, 1, 0x00) + b"\x00\x00"
    assert len(scan) == 12
    with open(os.path.join(out, "hostile_scan_flood.jpg"), "wb") as f:
        f.write(jpeg[:-2] + scan * 25000 + b"\xff\xd9")


# The pages of hostile_refused_pages.pdf, in order: a case of each kind the
# check before drawing refuses at once (the decoding worker's limits would
# stop each too, but only after seconds or a gigabyte).
REFUSED_PAGES = [
    "annotation flood", "function shading with a heavy calculator", "tiling pattern with a tiny step",
    "JBIG2 segment of length 0", "FF FF D8 before a JPEG's start", "APP1 of length 0", "JP2 box claiming 2 GB",
    "unknown marker before SIZ", "16,384 JPEG 2000 components", "huge symbol dictionary", "DeviceN colorants",
    "mesh shading", "JPXDecode under DCTDecode"]


def jp2_file(codestream, box_length=None):
    """A JP2 file around a codestream: signature, file type, header (image
    size and colour), then the codestream box, whose length may be given."""
    def box(kind, content, length=None):
        return struct.pack(">I", length if length is not None else len(content) + 8) + kind + content
    header = box(b"ihdr", struct.pack(">IIHBBBB", 16, 16, 1, 7, 7, 0, 0)) + box(b"colr", struct.pack(">BBBI", 1, 0, 0, 17))
    return (b"\0\0\0\x0cjP  \r\n\x87\n" + box(b"ftyp", b"jp2 \0\0\0\0jp2 ") + box(b"jp2h", header)
            + box(b"jp2c", codestream, box_length))


def write_refused_pages(out):
    """hostile_refused_pages.pdf, a page each (REFUSED_PAGES): 9,000
    annotations with page-sized appearances; a function shading whose
    calculator runs 20,000 operators a pixel; a tiling pattern with a step of
    a thousandth of a point; then codec headers that hide what the decoder
    will do: a JBIG2 region declared 0 bytes long over a 60000 x 60000 region,
    FF FF D8 before a progressive JPEG of 1.5 GB of coefficients, the same
    behind an APP1 of length 0, a JP2 codestream box claiming 2 GB, an unknown
    marker before SIZ, 16,384 components in 64 tiles, a symbol dictionary of
    140 million symbols; then a DeviceN whose one colorant's tint function has
    2 GB of samples, a Coons mesh of 1.6 million patches in 4 MB of bits, and
    a 2 GB JPEG 2000 picture under a DCTDecode filter."""
    document = PagesPdf()
    appearance = document.add(stream_object(b"/Type /XObject /Subtype /Form /BBox [0 0 612 792]",
                                            b"0.5 g 0 0 612 792 re f\n"))
    annotations = [document.add(b"<< /Type /Annot /Subtype /Square /Rect [0 0 612 792] /AP << /N %d 0 R >> >>"
                                % appearance) for _ in range(9000)]
    document.page(b"BT ET\n")
    document.bodies[document.kids[-1] - 1] = document.bodies[document.kids[-1] - 1].replace(
        b"/Contents", b"/Annots [%s] /Contents" % b" ".join(b"%d 0 R" % a for a in annotations))

    program = b"{ " + b"dup pop " * 10000 + b"}"
    calculator = document.add(stream_object(b"/FunctionType 4 /Domain [0 1 0 1] /Range [0 1]", program))
    shading = document.add(b"<< /ShadingType 1 /ColorSpace /DeviceGray /Domain [0 1 0 1] /Function %d 0 R >>"
                           % calculator)
    document.page(b"q 612 0 0 792 0 0 cm /S1 sh Q\n", b"/Shading << /S1 %d 0 R >>" % shading)

    tile = document.add(stream_object(
        b"/Type /Pattern /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 0.001 0.001] "
        b"/XStep 0.001 /YStep 0.001 /Resources << >>", b"0 0 0.0005 0.0005 re f\n"))
    document.page(b"/Pattern cs /P1 scn 0 0 612 792 re f\n", b"/Pattern << /P1 %d 0 R >>" % tile)

    draw = b"q 612 0 0 792 0 0 cm /Im1 Do Q\n"

    def image_page(width, height, bits, filters, data, space=b"/DeviceGray", extra=b""):
        image = document.add(stream_object(
            b"/Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace %s /BitsPerComponent %d %s"
            % (width, height, space, bits, filters), data))
        document.page(draw, b"/XObject << /Im1 %d 0 R >>%s" % (image, extra))

    # The empty segment's header, then the fields Poppler reads as its own.
    hidden = jbig2_noise_page(60000, 60000)[len(jbig2_page_info(60000, 60000)):]
    region = hidden[struct.calcsize(">IBBBI"):]
    jbig2 = jbig2_page_info(100, 100) + struct.pack(">IBBBI", 1, 38, 0, 1, 0) + region
    image_page(100, 100, 1, b"/Filter /JBIG2Decode", jbig2)

    jpeg = progressive_jpeg(16000, 16000, "RGB")
    image_page(1000, 1000, 8, b"/Filter /DCTDecode", b"\xff\xff\xd8\xff\xd9" + jpeg, b"/DeviceRGB")
    image_page(1000, 1000, 8, b"/Filter /DCTDecode", b"\xff\xd8\xff\xe1\x00\x00" + jpeg[2:], b"/DeviceRGB")

    jpeg2000 = jpeg2000_codestream(16000, 16000, 2)
    image_page(1000, 1000, 8, b"/Filter /JPXDecode", jp2_file(jpeg2000, 0x80000000))
    # A marker of no known kind, with a length, before SIZ.
    image_page(1000, 1000, 8, b"/Filter /JPXDecode", jpeg2000[:2] + b"\xff\x6f\x00\x04\x00\x00" + jpeg2000[2:])
    wide = jpeg2000_codestream(2048, 2048, 16384)
    # 256 x 256 tiles, every component subsampled 255 times each way.
    wide = (wide[:4] + wide[4:24] + struct.pack(">II", 256, 256) + wide[32:44]
            + bytes([7, 255, 255]) * 16384 + wide[44 + 3 * 16384:])
    image_page(2048, 2048, 8, b"/Filter /JPXDecode", wide)

    dictionary = struct.pack(">HII", 0x0001, 140000000, 140000000) + bytes(64)
    symbols = jbig2_page_info(100, 100) + jbig2_segment(1, 0, dictionary)
    image_page(100, 100, 1, b"/Filter /JBIG2Decode", symbols)

    table = document.add(stream_object(
        b"/FunctionType 0 /Domain [0 1 0 1] /Range [0 1] /Size [16384 16000] /BitsPerSample 8", bytes(256)))
    identity = b"<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1 >>"
    devicen = b"[/DeviceN [/Ink] /DeviceGray %s << /Colorants << /Ink [/Separation /Ink /DeviceGray %d 0 R] >> >>]" % (
        identity, table)
    image_page(16, 16, 8, b"", bytes(256), devicen)

    patches = zlib.compress(bytes(4 << 20), 9)
    mesh = document.add(stream_object(
        b"/ShadingType 6 /ColorSpace /DeviceGray /BitsPerCoordinate 1 /BitsPerComponent 1 /BitsPerFlag 2 "
        b"/Decode [0 612 0 792 0 1] /Filter /FlateDecode", patches))
    document.page(b"/S1 sh\n", b"/Shading << /S1 %d 0 R >>" % mesh)

    image_page(1000, 1000, 8, b"/Filter [/JPXDecode /DCTDecode]", jpeg2000)
    assert len(document.kids) == len(REFUSED_PAGES)
    with open(os.path.join(out, "hostile_refused_pages.pdf"), "wb") as f:
        f.write(document.bytes())


# The pages of hostile_contained_pages.pdf, in order: kinds no check before
# drawing foresees, which the decoding worker's deadline or memory stops.
CONTAINED_PAGES = ["Type 3 glyph flood", "soft mask nesting itself"]


def write_contained_pages(out):
    """hostile_contained_pages.pdf, a page each: one Tj of 100,000 glyphs of
    a Type 3 font whose one glyph fills the page (set with d0, so never
    cached: drawing runs it for every glyph, with no check between them), and
    a soft mask whose group sets the same soft mask again, so that every level
    draws into a page-sized bitmap of its own."""
    document = PagesPdf()
    glyph = document.add(stream_object(b"", b"1000 0 d0 0 0 1000 1000 re f\n"))
    font = document.add(b"<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] /FontMatrix [0.001 0 0 0.001 0 0] "
                        b"/CharProcs << /g %d 0 R >> /Encoding << /Type /Encoding /Differences [65 /g] >> "
                        b"/FirstChar 65 /LastChar 65 /Widths [0] /Resources << >> >>" % glyph)
    document.page(b"BT /T3 792 Tf 0 0 Td (" + b"A" * 100000 + b") Tj ET\n", b"/Font << /T3 %d 0 R >>" % font)

    state = len(document.bodies) + 2  # the graphics state, added right after its group
    group = document.add(stream_object(
        b"/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Group << /S /Transparency /CS /DeviceGray >> "
        b"/Resources << /ExtGState << /GS1 %d 0 R >> >>" % state, b"/GS1 gs 0.5 g 0 0 612 792 re f\n"))
    assert document.add(b"<< /Type /ExtGState /SMask << /Type /Mask /S /Luminosity /G %d 0 R >> >>" % group) == state
    document.page(b"/GS1 gs 0 0 612 792 re f\n", b"/ExtGState << /GS1 %d 0 R >>" % state)
    assert len(document.kids) == len(CONTAINED_PAGES)
    with open(os.path.join(out, "hostile_contained_pages.pdf"), "wb") as f:
        f.write(document.bytes())


def write_hostile(out):
    """Broken and hostile inputs, named hostile_*."""
    def save(name, data):
        with open(os.path.join(out, "hostile_" + name), "wb") as f:
            f.write(data)

    rng = random.Random(7)
    good = open(os.path.join(out, "three_pages.pdf"), "rb").read()
    save("truncated.pdf", good[:len(good) // 2])
    save("garbage.pdf", b"%PDF-1.4\n" + bytes(rng.getrandbits(8) for _ in range(50000)))
    save("zero_pages.pdf", raw_pdf([]))
    letter = "0 0 612 792"
    million = raw_pdf([{"media": letter, "content": text_at(72, 700, "Only page")}])
    save("million_pages.pdf", million.replace(b"/Count 1", b"/Count 5000000"))
    save("huge_media_box.pdf", raw_pdf([{"media": "0 0 1000000000 1000000000",
                                         "content": text_at(72, 700, "Lost in space")}]))
    save("infinite_media_box.pdf", raw_pdf([{"media": "0 0 1" + "0" * 400 + " 792",
                                             "content": text_at(72, 700, "Too wide")}]))
    save("negative_media_box.pdf", raw_pdf([{"media": "612 792 0 0", "content": text_at(72, 700, "Flipped box")}]))
    tokens = [b"BT", b"ET", b"Tj", b"q", b"Q", b"cm", b"1", b"0.5", b"(x)", b"/F1", b"<<", b"]", b"re", b"f"]
    garbage = b" ".join(rng.choice(tokens) for _ in range(400000))
    save("garbage_content.pdf", raw_pdf([{"media": letter, "content": garbage.decode("latin-1")}]))
    # Tens of kilobytes of file, over a gigabyte of content once inflated.
    bomb = flate_bomb(1100 << 20)
    save("flate_bomb.pdf", raw_pdf([{"media": letter, "filter": "/FlateDecode /FlateDecode", "content": bomb}]))
    # The same, drawn from a form.
    save("form_bomb.pdf", raw_pdf([{"media": letter, "content": "q /X1 Do Q\n",
                                    "form": ("/FlateDecode /FlateDecode", bomb)}]))
    # A wrong cross-reference offset: the file must be repaired, not refused.
    damaged = good.replace(b"startxref\n", b"startxref\n9").rsplit(b"startxref", 1)
    save("damaged_xref.pdf", damaged[0] + b"startxref" + damaged[1])
    subprocess.run(["qpdf", "--encrypt", "secret-user", "secret-owner", "256", "--",
                    os.path.join(out, "five_pages.pdf"), os.path.join(out, "hostile_encrypted.pdf")], check=True)

    save("huge_declared.png", png_with_header(100000, 100000))
    save("too_many_pixels.png", png_with_header(20000, 20000))
    save("zero_size.png", png_with_header(0, 0))
    jpeg = open(os.path.join(out, "english.jpg"), "rb").read()
    save("truncated.jpg", jpeg[:len(jpeg) * 6 // 10])
    save("empty.png", b"")
    save("gif_named.png", b"GIF89a\x01\x00\x01\x00\x00\x00\x00;")
    frames = [text_image(["Frame %d" % i], ImageFont.truetype(LATIN, 44)) for i in range(3)]
    frames[0].save(os.path.join(out, "hostile_animated.webp"), save_all=True, append_images=frames[1:], duration=100)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_images(out)
    write_one_line_images(out)
    write_layout_pages(out)
    write_turned_pages(out)
    write_pdfs(out)
    write_bilevel_scans(out)
    write_hostile(out)
    write_codec_bombs(out)
    write_data_bombs(out)
    write_worker_bombs(out)
    write_refused_pages(out)
    write_contained_pages(out)


if __name__ == "__main__":
    main()
