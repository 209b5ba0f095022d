#!/usr/bin/python3
"""Writes an int8 copy of a PP-OCR graph for ONNX Runtime, for the engine
comparison only (bench/studies/ort_compare.sh): every 1x1 convolution becomes
DynamicQuantizeLinear (activations, uint8, per tensor at run time) ->
ConvInteger (weights symmetric per output channel, stored as uint8 around
128) -> scale -> bias. The other operators stay float.

usage: quantize_for_ort.py IN.onnx OUT.onnx
"""
import sys

import numpy as np
import onnx
from onnx import helper, numpy_helper, version_converter


def main(source, target):
    model = version_converter.convert_version(onnx.load(source), 11)
    graph = model.graph
    weights = {t.name: t for t in graph.initializer}
    for node in graph.node:  # these graphs keep their weights in Constant nodes
        if node.op_type == "Constant":
            weights[node.output[0]] = helper.get_attribute_value(node.attribute[0])
    nodes = []
    count = 0
    for node in graph.node:
        attrs = {a.name: helper.get_attribute_value(a) for a in node.attribute}
        w = weights.get(node.input[1]) if node.op_type == "Conv" and len(node.input) > 1 else None
        if w is None or attrs.get("group", 1) != 1 or list(w.dims[2:]) != [1, 1]:
            nodes.append(node)
            continue
        count += 1
        name = node.output[0] + "_q"
        kernel = numpy_helper.to_array(w).astype(np.float32)
        rows = kernel.reshape(kernel.shape[0], -1)
        # Symmetric per output channel, stored as uint8 around 128: ONNX
        # Runtime's ConvInteger takes one weight zero point per tensor.
        scale = np.maximum(np.abs(rows).max(axis=1), 1e-12) / 127.0
        zero = np.array(128, dtype=np.uint8)
        quantised = (np.clip(np.round(rows / scale[:, None]), -127, 127) + 128).astype(np.uint8)
        graph.initializer.extend([
            numpy_helper.from_array(quantised.reshape(kernel.shape), name + "_w"),
            numpy_helper.from_array(zero, name + "_wz"),
            numpy_helper.from_array(scale.reshape(1, -1, 1, 1).astype(np.float32), name + "_ws"),
        ])
        conv_attrs = {k: v for k, v in attrs.items() if k in ("pads", "strides", "dilations", "group")}
        nodes += [
            helper.make_node("DynamicQuantizeLinear", [node.input[0]], [name + "_x", name + "_xs", name + "_xz"]),
            helper.make_node("ConvInteger", [name + "_x", name + "_w", name + "_xz", name + "_wz"], [name + "_i"],
                             **conv_attrs),
            helper.make_node("Cast", [name + "_i"], [name + "_f"], to=onnx.TensorProto.FLOAT),
            helper.make_node("Mul", [name + "_ws", name + "_xs"], [name + "_s"]),
            helper.make_node("Mul", [name + "_f", name + "_s"], [name + ("_m" if len(node.input) > 2 else "")]
                             if len(node.input) > 2 else [node.output[0]]),
        ]
        if len(node.input) > 2:
            bias = numpy_helper.to_array(weights[node.input[2]]).astype(np.float32)
            graph.initializer.append(numpy_helper.from_array(bias.reshape(1, -1, 1, 1), name + "_b"))
            nodes.append(helper.make_node("Add", [name + "_m", name + "_b"], [node.output[0]]))
    del graph.node[:]
    graph.node.extend(nodes)
    onnx.save(model, target)
    print(f"{source}: {count} 1x1 convolutions in int8")


if __name__ == "__main__":
    main(*sys.argv[1:3])
