#!/usr/bin/python3
"""Writes a copy of a prepared graph with its 8-bit marks changed, for
measuring which layers may multiply in int8 (bench/network_ab on the graphs,
or a copy of the build's models folder for whole runs).

usage: graph_int8.py IN.onnx OUT.onnx [--pointwise on|off] [--dense on|off] [--keep-float NAME,...]
  --pointwise / --dense: mark every PointwiseConv / DenseConv node (on) or
  none (off); unset: as IN has them. --keep-float: these nodes stay float.
"""
import argparse

import onnx
from onnx import helper


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("source")
    parser.add_argument("target")
    parser.add_argument("--pointwise", choices=("on", "off"))
    parser.add_argument("--dense", choices=("on", "off"))
    parser.add_argument("--keep-float", default="")
    args = parser.parse_args()
    keep = set(filter(None, args.keep_float.split(",")))
    model = onnx.load(args.source)
    marked = 0
    for node in model.graph.node:
        wanted = {"PointwiseConv": args.pointwise, "DenseConv": args.dense}.get(node.op_type)
        if node.op_type not in ("PointwiseConv", "DenseConv"):
            continue
        current = any(a.name == "int8" and a.i for a in node.attribute)
        on = (wanted == "on" if wanted else current) and node.name not in keep
        kept = [a for a in node.attribute if a.name != "int8"]
        del node.attribute[:]
        node.attribute.extend(kept)
        if on:
            node.attribute.append(helper.make_attribute("int8", 1))
            marked += 1
    onnx.save(model, args.target)
    print("%s: %d nodes marked int8" % (args.target, marked))


if __name__ == "__main__":
    main()
