#!/usr/bin/python3
"""Counts the multiply-adds of a prepared graph from the ONNX file alone, by
ONNX's own shape inference: the cross-check of build/roofline, which counts
them over the graph as OpenCV loaded it.

usage: count_macs.py MODEL.onnx HEIGHT WIDTH [HEIGHT WIDTH ...]
e.g.   bench/perf/count_macs.py build/models/ppocrv4_det_opencv.onnx 960 1280
       bench/perf/count_macs.py build/models/ppocrv4_rec_opencv.onnx 48 320 48 640
"""
import sys

import numpy as np
import onnx
from onnx import helper, numpy_helper, shape_inference


def as_standard_graph(model, height, width):
    """Our own layer types back as the ONNX operators they stand for (shape
    inference knows only those), with the input fixed to 1x3xHEIGHTxWIDTH."""
    model = onnx.ModelProto.FromString(model.SerializeToString())
    graph = model.graph
    weights = {t.name: numpy_helper.to_array(t) for t in graph.initializer}
    for node in graph.node:
        attributes = {a.name: helper.get_attribute_value(a) for a in node.attribute}
        if node.op_type == "DepthwiseConv":
            del node.attribute[:]
            node.op_type = "Conv"
            node.attribute.extend([
                helper.make_attribute("pads", list(attributes.get("padding", [0, 0, 0, 0]))),
                helper.make_attribute("strides", list(attributes.get("step", [1, 1]))),
                helper.make_attribute("group", int(weights[node.input[1]].shape[0]))])
        elif node.op_type == "PointwiseConv":
            node.op_type = "Conv"
        elif node.op_type == "DenseConv":
            del node.attribute[:]
            node.op_type = "Conv"
            node.attribute.extend([helper.make_attribute("pads", list(attributes.get("padding", [0, 0, 0, 0])))])
        elif node.op_type == "AffineHardSwish":
            del node.attribute[:]
            node.op_type = "Relu"  # any element-wise operator keeps the shape
    dims = graph.input[0].type.tensor_type.shape.dim
    for dim, size in zip(dims, [1, 3, height, width]):
        dim.Clear()
        dim.dim_value = size
    del graph.value_info[:]
    return shape_inference.infer_shapes(model), weights


def count(model, height, width):
    inferred, weights = as_standard_graph(model, height, width)
    graph = inferred.graph
    shapes = {}
    for value in list(graph.value_info) + list(graph.input) + list(graph.output):
        dims = value.type.tensor_type.shape.dim
        if dims and all(d.HasField("dim_value") for d in dims):
            shapes[value.name] = [d.dim_value for d in dims]
    for name, array in weights.items():
        shapes[name] = list(array.shape)
    by_type = {}
    unknown = 0
    for node in graph.node:
        if node.op_type not in ("Conv", "ConvTranspose", "MatMul", "Gemm"):
            continue
        out = shapes.get(node.output[0])
        first = shapes.get(node.input[0])
        second = shapes.get(node.input[1])
        if out is None or first is None or second is None:
            unknown += 1
            continue
        if node.op_type == "Conv":  # weights [out, in / groups, kh, kw]
            macs = np.prod(out) * np.prod(second[1:])
        elif node.op_type == "ConvTranspose":  # weights [in, out / groups, kh, kw]
            macs = np.prod(first) * np.prod(second[1:])
        else:
            transposed = node.op_type == "Gemm" and any(
                a.name == "transA" and a.i for a in node.attribute)
            shared = first[-2] if transposed else first[-1]
            macs = np.prod(out) * shared
        by_type[node.op_type] = by_type.get(node.op_type, 0) + int(macs)
    return by_type, unknown


def main():
    if len(sys.argv) < 4 or len(sys.argv) % 2 != 0:
        sys.exit(__doc__)
    model = onnx.load(sys.argv[1])
    sizes = [int(a) for a in sys.argv[2:]]
    for height, width in zip(sizes[0::2], sizes[1::2]):
        by_type, unknown = count(model, height, width)
        total = sum(by_type.values())
        parts = ", ".join(f"{t} {m / 1e9:.3f} G" for t, m in sorted(by_type.items()))
        print(f"{sys.argv[1]} at {height}x{width}: {total / 1e9:.3f} G multiply-adds ({parts}); "
              f"{total / width / 1e6:.2f} M per input column; nodes without shapes: {unknown}")


if __name__ == "__main__":
    main()
