#!/usr/bin/python3
"""Writes a lines file of a dense page for timing the reading order
(build/order_bound PAGE.lines.json 0.77 --time): a title, then three columns
of 100 lines each cut into 10 word boxes, and a two-column table with a
wrapped description in every other row: 3000 boxes or more in all.

usage: make_order_page.py OUT.lines.json
"""
import json
import sys


def main():
    boxes = [{"left": 0.1, "top": 0.01, "right": 0.9, "bottom": 0.02, "text": "title"}]
    for column in range(3):
        left = 0.05 + column * 0.32
        for line in range(100):
            top = 0.03 + line * 0.007
            for word in range(10):
                x = left + word * 0.029
                boxes.append({"left": x, "top": top, "right": x + 0.025, "bottom": top + 0.006,
                              "text": "w%d.%d.%d" % (column, line, word)})
    top = 0.75
    for row in range(12):
        boxes.append({"left": 0.1, "top": top, "right": 0.4, "bottom": top + 0.006, "text": "file%d" % row})
        for line in range(1 + row % 2):
            boxes.append({"left": 0.5, "top": top, "right": 0.9, "bottom": top + 0.006, "text": "desc%d" % row})
            top += 0.0075
    with open(sys.argv[1], "w", encoding="utf-8") as f:
        json.dump(boxes, f)
    print(len(boxes), "boxes")


if __name__ == "__main__":
    main()
