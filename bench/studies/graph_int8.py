#!/usr/bin/python3
"""Writes a copy of a prepared graph with its 8-bit marks changed, for
measuring which layers may multiply in integers (bench/network_ab on the graphs,
or a copy of the build's models folder for whole runs).

usage: graph_int8.py IN.onnx OUT.onnx [--pointwise on|off] [--dense on|off] [--keep-float NAME,...]
                     [--bits 8|12] [--twelve NAME,...]
  --pointwise / --dense: mark every PointwiseConv / DenseConv node (on) or
  none (off); unset: as IN has them. --keep-float: these nodes stay float.
  --bits: the precision of every marked node's products (unset: as IN has
  it); --twelve: these marked nodes multiply in 12 bits.
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
    parser.add_argument("--bits", choices=("8", "12"))
    parser.add_argument("--twelve", default="")
    args = parser.parse_args()
    keep = set(filter(None, args.keep_float.split(",")))
    twelve = set(filter(None, args.twelve.split(",")))
    model = onnx.load(args.source)
    marked = 0
    for node in model.graph.node:
        wanted = {"PointwiseConv": args.pointwise, "DenseConv": args.dense}.get(node.op_type)
        if node.op_type not in ("PointwiseConv", "DenseConv"):
            continue
        current = any(a.name == "quantized" and a.i for a in node.attribute)
        bits = next((a.i for a in node.attribute if a.name == "bits"), 8)
        on = (wanted == "on" if wanted else current) and node.name not in keep
        if args.bits:
            bits = int(args.bits)
        if node.name in twelve:
            bits = 12
        kept = [a for a in node.attribute if a.name not in ("quantized", "bits")]
        del node.attribute[:]
        node.attribute.extend(kept)
        if on:
            node.attribute.append(helper.make_attribute("quantized", 1))
            if bits != 8:
                node.attribute.append(helper.make_attribute("bits", bits))
            marked += 1
    onnx.save(model, args.target)
    print("%s: %d nodes marked quantized" % (args.target, marked))


if __name__ == "__main__":
    main()
