#!/usr/bin/python3
"""Generates benchmark inputs from a seed: page-sized images and a long PDF
with English, Simplified and Traditional Chinese text, plus the ground truth
of every page (one .txt beside each image, and long.pdf.txt with one page per
form feed).

usage: make_bench_data.py OUT_DIR [--pages N] [--seed S] [--lines-per-page L]
"""
import argparse
import os
import random

import cairo
from PIL import Image, ImageDraw, ImageFont

CJK = "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc"
LATIN = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
SERIF = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf"

ENGLISH_WORDS = (
    "the of and to in is that for it as was with be by on not he this are or his from at which but have an they "
    "you were her she there been one all we their has would when if so no will more about what can out up them "
    "other time could into only new some these two may first then do any like my now over such our man me even "
    "most made after also did many before must through years where much your way well down should because each "
    "just those people how too little state good very make world still own see men work long get here between "
    "both life being under never day same another know while last might us great old year off come since against "
    "go came right used take three report market price order invoice account total payment customer service data "
    "system number board meeting revenue budget quarter policy research energy water city health school family"
).split()

SIMPLIFIED = (
    "我们 今天 会议 经济 发展 环境 保护 公司 市场 价格 学生 老师 学校 医院 城市 交通 时间 问题 工作 生活 "
    "国家 政府 社会 文化 历史 科学 技术 研究 数据 系统 服务 客户 订单 发票 金额 合计 报告 计划 项目 管理 "
    "北京 上海 广州 天气 很好 非常 重要 已经 开始 完成 需要 可以 没有 因为 所以 但是 如果 这个 那个 一个"
).split()

TRADITIONAL = (
    "我們 今天 會議 經濟 發展 環境 保護 公司 市場 價格 學生 老師 學校 醫院 城市 交通 時間 問題 工作 生活 "
    "國家 政府 社會 文化 歷史 科學 技術 研究 數據 系統 服務 客戶 訂單 金額 報告 計劃 項目 管理 "
    "臺北 香港 天氣 很好 非常 重要 已經 開始 完成 需要 可以 沒有 因為 所以 但是 如果 這個 那個 一個"
).split()

GROUPS = ("english", "simplified", "traditional", "mixed")


def sentence(rng, group):
    if group == "english":
        words = [rng.choice(ENGLISH_WORDS) for _ in range(rng.randint(5, 10))]
        words[0] = words[0].capitalize()
        if rng.random() < 0.3:
            words.append(str(rng.randint(1, 9999)))
        return " ".join(words) + rng.choice([".", ".", ",", ":"])
    if group == "simplified":
        return "".join(rng.choice(SIMPLIFIED) for _ in range(rng.randint(4, 9))) + rng.choice(["。", "，"])
    if group == "traditional":
        return "".join(rng.choice(TRADITIONAL) for _ in range(rng.randint(4, 9))) + rng.choice(["。", "，"])
    return sentence(rng, rng.choice(["english", "simplified", "traditional"]))


def font_for(group, line, size):
    if group == "traditional" or any("\u4e00" <= ch <= "\u9fff" for ch in line) and group != "simplified":
        return ImageFont.truetype(CJK, size, index=3)
    if group == "simplified" or any("\u4e00" <= ch <= "\u9fff" for ch in line):
        return ImageFont.truetype(CJK, size, index=2)
    return ImageFont.truetype(LATIN, size)


def page_lines(rng, group, width_px, font_px):
    """Lines that fit the width at this font size, by measuring each."""
    lines = []
    line = ""
    while len(lines) < 200:
        candidate = (line + " " if line and group in ("english", "mixed") else line) + sentence(rng, group)
        font = font_for(group, candidate, font_px)
        if font.getlength(candidate) > width_px:
            if line:
                lines.append(line)
            line = ""
            if len(lines) * font_px * 1.6 > 2060 - 2 * 180:
                break
            continue
        line = candidate
    return lines


def write_page_image(path, rng, group, point_size):
    scale = 2.6  # as PDF pages are rendered
    width, height = 1592, 2060
    font_px = int(round(point_size * scale))
    margin = int(72 * scale * 0.9)
    image = Image.new("L", (width, height), 255)
    draw = ImageDraw.Draw(image)
    y = margin
    truth = []
    for line in page_lines(rng, group, width - 2 * margin, font_px):
        if y + font_px * 1.6 > height - margin:
            break
        draw.text((margin, y), line, font=font_for(group, line, font_px), fill=0)
        truth.append(line)
        y += int(font_px * 1.6)
    image.save(path)
    with open(path + ".txt", "w", encoding="utf-8") as f:
        f.write("\n".join(truth) + "\n")


def write_tight_page(path, rng, font_file, word_gap_em):
    """English set tightly, as on forms and receipts: each word drawn on its
    own with a narrow gap, the case where the network drops spaces."""
    width, height = 1592, 2060
    font_px = 30
    font = ImageFont.truetype(font_file, font_px)
    image = Image.new("L", (width, height), 255)
    draw = ImageDraw.Draw(image)
    truth = []
    y = 150
    while y < height - 150:
        words, x = [], 150.0
        while True:
            word = rng.choice(ENGLISH_WORDS)
            if rng.random() < 0.15:
                word = str(rng.randint(10, 99999))
            advance = font.getlength(word)
            if x + advance > width - 150:
                break
            draw.text((x, y), word, font=font, fill=0)
            words.append(word)
            x += advance + word_gap_em * font_px
        truth.append(" ".join(words))
        y += int(font_px * 1.8)
    image.save(path)
    with open(path + ".txt", "w", encoding="utf-8") as f:
        f.write("\n".join(truth) + "\n")


def write_long_pdf(path, rng, pages, lines_per_page):
    surface = cairo.PDFSurface(path, 612, 792)
    context = cairo.Context(surface)
    truths = []
    for number in range(pages):
        group = GROUPS[number % len(GROUPS)]
        family = {"english": "DejaVu Serif", "simplified": "Noto Sans CJK SC"}.get(group, "Noto Sans CJK TC")
        context.select_font_face(family)
        size = rng.choice([10, 11, 12])
        context.set_font_size(size)
        y = 72 + size
        truth = []
        for line in page_lines(rng, group, 612 - 144, size)[:lines_per_page]:
            if y > 792 - 72:
                break
            if context.text_extents(line).x_advance > 612 - 144:
                continue
            context.move_to(72, y)
            context.show_text(line)
            truth.append(line)
            y += size * 1.6
        truths.append("\n".join(truth))
        surface.show_page()
    surface.finish()
    with open(path + ".txt", "w", encoding="utf-8") as f:
        f.write("\f".join(truths) + "\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--pages", type=int, default=120)
    parser.add_argument("--seed", type=int, default=20261208)
    parser.add_argument("--lines-per-page", type=int, default=12)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    rng = random.Random(args.seed)
    for group in GROUPS:
        write_page_image(os.path.join(args.out, "page_%s.png" % group), rng, group, 11)
    for i, font_file in enumerate((LATIN, SERIF, "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf")):
        write_tight_page(os.path.join(args.out, "tight_english%d.png" % i), rng, font_file, 0.14)
    write_long_pdf(os.path.join(args.out, "long.pdf"), rng, args.pages, args.lines_per_page)


if __name__ == "__main__":
    main()
