#!/usr/bin/python3
"""Rewrites the PP-OCRv4 detection and recognition graphs into forms that
OpenCV 4.6's ONNX importer loads and runs correctly.

usage: adapt_models.py DET_IN REC_IN CLS_IN DET_OUT REC_OUT CLS_OUT

Detection: Clip with constant min/max inputs becomes the attribute form,
ConvTranspose -> Add(bias) [-> BatchNormalization] chains are folded into one
ConvTranspose with a bias (OpenCV fuses them itself and then produces an
all-zero map once the input size changes), and the batch is fixed to 1.

Recognition: with the input fixed to Bx3x48xW the shape arithmetic is folded
to constants, Squeeze becomes Reshape, ReduceMean over the last axis and the
per-channel Mul become MatMuls. Done at two widths and two batch sizes, the
reshape entries that differ with the width (the sequence length) become -1
and those that differ with the batch become 0 (the input's own batch), so
one graph reads any width and several lines of one width at once. For that,
the attention's query, key and value are cut along an axis after the batch
rather than before it. The head
becomes a 1x1 convolution that yields logits as [1, classes, 1, frames]; the
reader takes the softmax itself (OpenCV's Transpose and Softmax over 6625
classes cost more than the head's arithmetic).

Line orientation classifier: Clip takes the attribute form and, with the
input fixed to 1x3x48x192 (the size it was trained at), the shape arithmetic
before its classifier folds to constants.

Detection and recognition, for speed: a Conv followed by a scalar Mul and Add takes them into its
weights; x * clip(x + 3, 0, 6) / 6 and the scalar Mul and Add after it become
one AffineHardSwish node; depthwise convolutions with kernels over 3x3 become
DepthwiseConv nodes; 1x1 convolutions become PointwiseConv nodes and other
ungrouped stride-1 convolutions DenseConv nodes; in detection, a map's Mul by
its squeeze-and-excitation weights becomes a ChannelScale node, which also
takes the shortcut Add after it (its "offset", 1, added to the weights), and
a nearest-neighbour Resize a NearestUpsample node, with the Add after it; in
recognition, a MatMul of the tokens by weights and the Add of its bias become
a TokenLinear node. These are
layers of our own (network_layers.cc): OpenCV 4.6 runs hard-swish and that
broadcast one element at a time and the convolutions well below the
processor's matrix product rate.
"""
import sys

import numpy as np
import onnx
from onnx import helper, numpy_helper, shape_inference


def fail(message):
    sys.stderr.write("adapt_models: " + message + "\n")
    sys.exit(1)


def constants_to_initializers(graph):
    kept = []
    for node in graph.node:
        if node.op_type == "Constant" and len(node.attribute) == 1 and node.attribute[0].name == "value":
            tensor = onnx.TensorProto()
            tensor.CopyFrom(node.attribute[0].t)
            tensor.name = node.output[0]
            graph.initializer.append(tensor)
        else:
            kept.append(node)
    del graph.node[:]
    graph.node.extend(kept)


def initializer_map(graph):
    return {t.name: t for t in graph.initializer}


def set_initializer(graph, name, array):
    for i, t in enumerate(graph.initializer):
        if t.name == name:
            graph.initializer.remove(t)
            break
    graph.initializer.append(numpy_helper.from_array(array, name))


def consumers(graph):
    result = {}
    for node in graph.node:
        for name in node.input:
            result.setdefault(name, []).append(node)
    for out in graph.output:
        result.setdefault(out.name, []).append(None)
    return result


def drop_unused_initializers(graph):
    used = {name for node in graph.node for name in node.input}
    used.update(o.name for o in graph.output)
    keep = [t for t in graph.initializer if t.name in used]
    del graph.initializer[:]
    graph.initializer.extend(keep)


def clip_to_attribute_form(graph):
    inits = initializer_map(graph)
    for node in graph.node:
        if node.op_type != "Clip" or len(node.input) == 1:
            continue
        bounds = []
        for name in node.input[1:3]:
            if name == "":
                bounds.append(None)
            elif name in inits:
                bounds.append(float(numpy_helper.to_array(inits[name]).reshape(-1)[0]))
            else:
                fail("Clip %s has a non-constant bound" % node.name)
        data = node.input[0]
        del node.input[:]
        node.input.append(data)
        if bounds[0] is not None:
            node.attribute.append(helper.make_attribute("min", bounds[0]))
        if len(bounds) > 1 and bounds[1] is not None:
            node.attribute.append(helper.make_attribute("max", bounds[1]))


def fold_conv_transpose_chains(graph):
    inits = initializer_map(graph)
    uses = consumers(graph)
    folded = 0
    for node in list(graph.node):
        if node.op_type != "ConvTranspose" or len(node.input) != 2:
            continue
        after = uses.get(node.output[0], [])
        if len(after) != 1 or after[0] is None or after[0].op_type != "Add":
            continue
        add = after[0]
        bias_name = [n for n in add.input if n != node.output[0]][0]
        if bias_name not in inits:
            continue
        weight = numpy_helper.to_array(inits[node.input[1]]).astype(np.float64)
        out_channels = weight.shape[1]
        bias = numpy_helper.to_array(inits[bias_name]).astype(np.float64).reshape(-1)
        if bias.size == 1:
            bias = np.full(out_channels, bias[0])
        if bias.size != out_channels:
            fail("ConvTranspose %s has a bias of unexpected size" % node.name)
        last = add
        following = uses.get(add.output[0], [])
        if len(following) == 1 and following[0] is not None and following[0].op_type == "BatchNormalization":
            bn = following[0]
            gamma, beta, mean, var = (numpy_helper.to_array(inits[n]).astype(np.float64) for n in bn.input[1:5])
            eps = 1e-5
            for attr in bn.attribute:
                if attr.name == "epsilon":
                    eps = attr.f
            scale = gamma / np.sqrt(var + eps)
            weight = weight * scale.reshape(1, -1, 1, 1)
            bias = (bias - mean) * scale + beta
            last = bn
            graph.node.remove(bn)
        graph.node.remove(add)
        weight_name = node.input[1] + "_folded"
        folded_bias_name = node.input[1] + "_folded_bias"
        set_initializer(graph, weight_name, weight.astype(np.float32))
        set_initializer(graph, folded_bias_name, bias.astype(np.float32))
        node.input[1] = weight_name
        node.input.append(folded_bias_name)
        node.output[0] = last.output[0]
        folded += 1
    if folded == 0:
        fail("no ConvTranspose chain found to fold in the detection graph")


def fix_dims(value_info, dims):
    shape = value_info.type.tensor_type.shape
    for dim, value in zip(shape.dim, dims):
        if value is None:
            continue
        if isinstance(value, str):
            dim.dim_param = value
        else:
            dim.dim_value = value


def attribute(node, name, default=None):
    for attr in node.attribute:
        if attr.name == name:
            return helper.get_attribute_value(attr)
    return default


def producers(graph):
    return {name: node for node in graph.node for name in node.output}


def only_consumer(uses, name):
    found = uses.get(name, [])
    return found[0] if len(found) == 1 else None


def scalar_operand(node, inits):
    """(value, other input) when exactly one input of a binary node is a one-element constant."""
    if len(node.input) != 2:
        return None, None
    for i in (0, 1):
        name, other = node.input[i], node.input[1 - i]
        if name in inits and other not in inits and int(np.prod(inits[name].dims)) == 1:
            return float(numpy_helper.to_array(inits[name]).reshape(-1)[0]), other
    return None, None


def following_affine(uses, inits, node):
    """The scalar Mul [then Add] that alone consume node's output: (scale, shift, nodes)."""
    mul = only_consumer(uses, node.output[0])
    if mul is None or mul.op_type != "Mul":
        return 1.0, 0.0, []
    scale, _ = scalar_operand(mul, inits)
    if scale is None:
        return 1.0, 0.0, []
    add = only_consumer(uses, mul.output[0])
    if add is not None and add.op_type == "Add":
        shift, _ = scalar_operand(add, inits)
        if shift is not None:
            return scale, shift, [mul, add]
    return scale, 0.0, [mul]


def fold_conv_affine(graph):
    """Conv (with its bias) -> Mul(s) [-> Add(b)] becomes a Conv with weights * s and bias * s + b."""
    inits, uses = initializer_map(graph), consumers(graph)
    folded = 0
    for conv in [n for n in graph.node if n.op_type == "Conv"]:
        scale, shift, affine = following_affine(uses, inits, conv)
        if not affine:
            continue
        weight = numpy_helper.to_array(inits[conv.input[1]])
        bias = numpy_helper.to_array(inits[conv.input[2]])
        weight_name, bias_name = conv.name + "_affine_weight", conv.name + "_affine_bias"
        set_initializer(graph, weight_name, (weight * scale).astype(np.float32))
        set_initializer(graph, bias_name, (bias * scale + shift).astype(np.float32))
        del conv.input[1:]
        conv.input.extend([weight_name, bias_name])
        conv.output[0] = affine[-1].output[0]
        for node in affine:
            graph.node.remove(node)
        inits = initializer_map(graph)
        folded += 1
    return folded


def affine_hard_swish(graph):
    """Add(x, 3) -> Clip(0, 6) -> Mul(x, .) -> Div(6) [-> Mul(s) [-> Add(b)]] becomes AffineHardSwish."""
    inits, uses, made = initializer_map(graph), consumers(graph), producers(graph)
    replaced = 0
    for div in [n for n in graph.node if n.op_type == "Div"]:
        six, product = scalar_operand(div, inits)
        mul = made.get(product)
        if six != 6.0 or div.input[0] != product or mul is None or mul.op_type != "Mul":
            continue
        clip = next((made[n] for n in mul.input if n in made and made[n].op_type == "Clip"), None)
        if clip is None or attribute(clip, "min") != 0.0 or attribute(clip, "max") != 6.0:
            continue
        add = made.get(clip.input[0])
        three, x = scalar_operand(add, inits) if add is not None and add.op_type == "Add" else (None, None)
        if three != 3.0 or sorted(mul.input) != sorted([x, clip.output[0]]):
            continue
        if any(len(uses[n.output[0]]) != 1 for n in (add, clip, mul)):
            continue
        scale, shift, affine = following_affine(uses, inits, div)
        last = affine[-1] if affine else div
        graph.node.insert(list(graph.node).index(div), helper.make_node(
            "AffineHardSwish", [x], [last.output[0]], name=div.name + "_hardswish", scale=scale, shift=shift))
        for node in [add, clip, mul, div] + affine:
            graph.node.remove(node)
        replaced += 1
    return replaced


def bias_every_convolution(graph):
    """Gives every Conv a bias input (zeros where it had none), so the rewrites see one form."""
    inits = initializer_map(graph)
    for conv in graph.node:
        if conv.op_type == "Conv" and len(conv.input) == 2:
            name = conv.name + "_zero_bias"
            set_initializer(graph, name, np.zeros(inits[conv.input[1]].dims[0], np.float32))
            conv.input.append(name)


def large_depthwise_convolutions(graph):
    """Depthwise Conv nodes with a kernel over 3x3 become DepthwiseConv nodes."""
    inits = initializer_map(graph)
    replaced = 0
    for index, conv in enumerate(graph.node):
        if conv.op_type != "Conv" or len(conv.input) != 3:
            continue
        weight = inits[conv.input[1]].dims
        if attribute(conv, "group", 1) != weight[0] or weight[1] != 1 or max(weight[2:]) <= 3:
            continue
        if attribute(conv, "dilations", [1, 1]) != [1, 1] or attribute(conv, "auto_pad", b"NOTSET") != b"NOTSET":
            continue
        graph.node.remove(conv)
        graph.node.insert(index, helper.make_node(
            "DepthwiseConv", list(conv.input), list(conv.output), name=conv.name,
            padding=attribute(conv, "pads", [0, 0, 0, 0]), step=attribute(conv, "strides", [1, 1])))
        replaced += 1
    return replaced


def pointwise_convolutions(graph, quantize_except=None):
    """1x1 Conv nodes without stride, padding or groups become PointwiseConv nodes.
    With quantize_except (a set of node names), every other one is marked
    quantized, 12 bits: it multiplies in integers where the processor can."""
    inits = initializer_map(graph)
    replaced = 0
    for index, conv in enumerate(graph.node):
        if conv.op_type != "Conv" or len(conv.input) != 3 or list(inits[conv.input[1]].dims[2:]) != [1, 1]:
            continue
        if attribute(conv, "group", 1) != 1 or attribute(conv, "strides", [1, 1]) != [1, 1] or \
                any(attribute(conv, "pads", [0, 0, 0, 0])) or attribute(conv, "auto_pad", b"NOTSET") != b"NOTSET":
            continue
        graph.node.remove(conv)
        marks = {} if quantize_except is None or conv.name in quantize_except else {"quantized": 1, "bits": 12}
        graph.node.insert(index, helper.make_node("PointwiseConv", list(conv.input), list(conv.output), name=conv.name,
                                                  **marks))
        replaced += 1
    return replaced


def dense_convolutions(graph):
    """Conv nodes with a kernel over 1x1, stride 1 and no groups become DenseConv nodes."""
    inits = initializer_map(graph)
    replaced = 0
    for index, conv in enumerate(graph.node):
        if conv.op_type != "Conv" or len(conv.input) != 3 or list(inits[conv.input[1]].dims[2:]) == [1, 1]:
            continue
        if attribute(conv, "group", 1) != 1 or attribute(conv, "strides", [1, 1]) != [1, 1] or \
                attribute(conv, "dilations", [1, 1]) != [1, 1] or \
                attribute(conv, "auto_pad", b"NOTSET") != b"NOTSET":
            continue
        graph.node.remove(conv)
        graph.node.insert(index, helper.make_node(
            "DenseConv", list(conv.input), list(conv.output), name=conv.name,
            padding=attribute(conv, "pads", [0, 0, 0, 0])))
        replaced += 1
    return replaced


def patch_transpose_convolutions(graph):
    """ConvTranspose nodes whose stride equals their kernel, without padding,
    groups or output padding, become PatchTransposeConv nodes: one matrix
    product each, where OpenCV 4.6 runs them at a tenth of that rate."""
    inits = initializer_map(graph)
    replaced = 0
    for index, node in enumerate(graph.node):
        if node.op_type != "ConvTranspose" or len(node.input) != 3 or node.input[1] not in inits:
            continue
        kernel = list(inits[node.input[1]].dims[2:])
        if attribute(node, "strides", [1, 1]) != kernel or any(attribute(node, "pads", [0, 0, 0, 0])) or \
                attribute(node, "group", 1) != 1 or attribute(node, "dilations", [1, 1]) != [1, 1] or \
                any(attribute(node, "output_padding", [0, 0])) or attribute(node, "auto_pad", b"NOTSET") != b"NOTSET":
            continue
        graph.node.remove(node)
        graph.node.insert(index, helper.make_node("PatchTransposeConv", list(node.input), list(node.output),
                                                  name=node.name))
        replaced += 1
    return replaced


def channel_scales(graph):
    """Mul of a map by its squeeze-and-excitation weights (a HardSigmoid's
    [1, C, 1, 1] output) becomes a ChannelScale node, map first. OpenCV 4.6
    runs that broadcast one element at a time: a third of a page's detection."""
    made = producers(graph)
    inits = initializer_map(graph)
    replaced = 0
    for index, mul in enumerate(graph.node):
        if mul.op_type != "Mul" or len(mul.input) != 2 or any(name in inits for name in mul.input):
            continue
        weights = [i for i in (0, 1) if mul.input[i] in made and made[mul.input[i]].op_type == "HardSigmoid"]
        if len(weights) != 1:
            continue
        scale = mul.input[weights[0]]
        graph.node.remove(mul)
        graph.node.insert(index, helper.make_node("ChannelScale", [mul.input[1 - weights[0]], scale],
                                                  list(mul.output), name=mul.name))
        replaced += 1
    return replaced


def replace_nodes(graph, replaced, node):
    """`node` in place of the nodes `replaced`, where the last of them stood:
    every input of theirs is made before it."""
    position = max(list(graph.node).index(old) for old in replaced)
    graph.node.insert(position, node)
    for old in replaced:
        graph.node.remove(old)


def residual_channel_scales(graph):
    """x + ChannelScale(x, s), the detection neck's squeeze-and-excitation with
    its shortcut, is ChannelScale(x, s) with 1 added to every weight: one pass
    over the map where the Add made a second, reading two maps."""
    uses = consumers(graph)
    made = producers(graph)
    fused = 0
    for add in list(graph.node):
        if add.op_type != "Add" or len(add.input) != 2:
            continue
        for i in (0, 1):
            scale = made.get(add.input[i])
            if (scale is not None and scale.op_type == "ChannelScale" and scale.input[0] == add.input[1 - i]
                    and only_consumer(uses, scale.output[0]) is add):
                scale.attribute.append(helper.make_attribute("offset", 1.0))
                scale.output[0] = add.output[0]
                graph.node.remove(add)
                fused += 1
                break
    return fused


def nearest_upsamples(graph):
    """A nearest-neighbour Resize by a whole factor (the detection neck's) becomes
    a NearestUpsample node, which OpenCV 4.6 would run on one thread; one whose
    only use is an Add takes the Add's other map as a second input, and its
    output is the sum, so the enlarged map is never written out."""
    inits = initializer_map(graph)
    uses = consumers(graph)
    replaced = 0
    for resize in list(graph.node):
        if resize.op_type != "Resize" or attribute(resize, "mode") != b"nearest":
            continue
        if (attribute(resize, "coordinate_transformation_mode") != b"asymmetric"
                or attribute(resize, "nearest_mode", b"round_prefer_floor") != b"floor"):
            continue
        if len(resize.input) < 3 or resize.input[2] not in inits:
            continue
        scales = numpy_helper.to_array(inits[resize.input[2]]).reshape(-1).tolist()
        if len(scales) != 4 or scales[:2] != [1.0, 1.0] or scales[2] != scales[3] or scales[2] != int(scales[2]):
            continue
        inputs, output, taken = [resize.input[0]], resize.output[0], [resize]
        add = only_consumer(uses, output)
        if add is not None and add.op_type == "Add" and len(add.input) == 2:
            inputs.append(add.input[1] if add.input[0] == output else add.input[0])
            output = add.output[0]
            taken.append(add)
        replace_nodes(graph, taken, helper.make_node("NearestUpsample", inputs, [output], name=resize.name,
                                                     factor=int(scales[2])))
        replaced += 1
    return replaced


def token_linears(graph):
    """MatMul of the tokens by a weight matrix, then the Add of its bias (the
    attention's and feed-forward's linear layers), becomes one TokenLinear
    node: OpenCV 4.6 runs it as InnerProduct at a sixth of our product's rate."""
    inits = initializer_map(graph)
    uses = consumers(graph)
    replaced = 0
    for matmul in list(graph.node):
        if matmul.op_type != "MatMul" or matmul.input[1] not in inits or matmul.input[0] in inits:
            continue
        weights = inits[matmul.input[1]]
        add = only_consumer(uses, matmul.output[0])
        if len(weights.dims) != 2 or add is None or add.op_type != "Add" or len(add.input) != 2:
            continue
        bias = add.input[1] if add.input[0] == matmul.output[0] else add.input[0]
        if bias not in inits or list(inits[bias].dims) != [weights.dims[1]]:
            continue
        replace_nodes(graph, [matmul, add], helper.make_node(
            "TokenLinear", [matmul.input[0], matmul.input[1], bias], list(add.output), name=matmul.name))
        replaced += 1
    return replaced


def speed_up(graph, quantize_except=None):
    bias_every_convolution(graph)
    if fold_conv_affine(graph) == 0 or affine_hard_swish(graph) == 0 or large_depthwise_convolutions(graph) == 0:
        fail("the graph does not have the convolution blocks expected of PP-OCRv4")
    if pointwise_convolutions(graph, quantize_except) == 0:
        fail("the graph has no 1x1 convolutions")
    dense_convolutions(graph)
    drop_unused_initializers(graph)


def adapt_detection(model):
    graph = model.graph
    constants_to_initializers(graph)
    clip_to_attribute_form(graph)
    fold_conv_transpose_chains(graph)
    fix_dims(graph.input[0], [1, 3, "height", "width"])
    fix_dims(graph.output[0], [1, 1, "height", "width"])
    speed_up(graph)
    if channel_scales(graph) == 0:
        fail("the detection graph has no squeeze-and-excitation blocks")
    if residual_channel_scales(graph) == 0:
        fail("the detection graph has no squeeze-and-excitation shortcuts")
    if nearest_upsamples(graph) == 0:
        fail("the detection graph has no nearest-neighbour enlargements")
    if patch_transpose_convolutions(graph) == 0:
        fail("the detection graph has no transposed convolutions to run as products")
    return model


# --- recognition ---------------------------------------------------------

def evaluate(node, values):
    """Evaluates the few ops that carry shape arithmetic, on numpy arrays."""
    attrs = {a.name: helper.get_attribute_value(a) for a in node.attribute}
    x = [values[n] for n in node.input]
    op = node.op_type
    if op == "Cast":
        to = helper.tensor_dtype_to_np_dtype(attrs["to"]) if hasattr(helper, "tensor_dtype_to_np_dtype") \
            else onnx.mapping.TENSOR_TYPE_TO_NP_TYPE[attrs["to"]]
        return x[0].astype(to)
    if op == "Slice":
        data = x[0]
        if len(x) > 1:
            starts, ends = x[1], x[2]
            axes = x[3] if len(x) > 3 else list(range(len(starts)))
            steps = x[4] if len(x) > 4 else [1] * len(starts)
        else:
            starts, ends = attrs["starts"], attrs["ends"]
            axes = attrs.get("axes", list(range(len(starts))))
            steps = [1] * len(starts)
        index = [slice(None)] * data.ndim
        for s, e, a, st in zip(starts, ends, axes, steps):
            index[int(a)] = slice(int(s), int(min(e, 2**62)), int(st))
        return data[tuple(index)]
    if op == "Concat":
        return np.concatenate(x, axis=attrs["axis"])
    if op == "Gather":
        return np.take(x[0], x[1], axis=attrs.get("axis", 0))
    if op == "Unsqueeze":
        axes = attrs["axes"] if "axes" in attrs else x[1]
        out = x[0]
        for a in sorted(axes):
            out = np.expand_dims(out, a)
        return out
    if op in ("Add", "Sub", "Mul", "Div"):
        fn = {"Add": np.add, "Sub": np.subtract, "Mul": np.multiply, "Div": np.floor_divide
              if np.issubdtype(x[0].dtype, np.integer) else np.divide}[op]
        return fn(x[0], x[1]).astype(x[0].dtype)
    return None


def known_shapes(model):
    inferred = shape_inference.infer_shapes(model)
    shapes = {}
    for vi in list(inferred.graph.value_info) + list(inferred.graph.input) + list(inferred.graph.output):
        dims = vi.type.tensor_type.shape.dim
        if all(d.HasField("dim_value") for d in dims) and len(dims) > 0:
            shapes[vi.name] = [d.dim_value for d in dims]
    for t in inferred.graph.initializer:
        shapes[t.name] = list(t.dims)
    return shapes


def fold_shape_arithmetic(model):
    graph = model.graph
    while True:
        shapes = known_shapes(model)
        values = {t.name: numpy_helper.to_array(t) for t in graph.initializer}
        changed = False
        for node in list(graph.node):
            result = None
            if node.op_type == "Shape" and node.input[0] in shapes:
                result = np.array(shapes[node.input[0]], dtype=np.int64)
            elif node.op_type != "Shape" and node.input and all(n in values for n in node.input):
                result = evaluate(node, values)
            if result is None:
                continue
            graph.node.remove(node)
            set_initializer(graph, node.output[0], np.asarray(result))
            values[node.output[0]] = np.asarray(result)
            changed = True
        if not changed:
            return shapes


def rewrite_recognition_ops(model, shapes):
    graph = model.graph
    inits = initializer_map(graph)
    rewritten = []
    for node in graph.node:
        if node.op_type == "Squeeze":
            out_shape = shapes.get(node.output[0])
            if out_shape is None:
                fail("unknown output shape of %s" % node.name)
            target = node.output[0] + "_shape"
            set_initializer(graph, target, np.array(out_shape, dtype=np.int64))
            rewritten.append(helper.make_node("Reshape", [node.input[0], target], list(node.output), name=node.name))
            continue
        if node.op_type == "ReduceMean":
            attrs = {a.name: helper.get_attribute_value(a) for a in node.attribute}
            in_shape = shapes.get(node.input[0])
            if attrs.get("axes") == [-1] and attrs.get("keepdims", 1) == 1 and in_shape:
                channels = in_shape[-1]
                column = node.output[0] + "_mean_column"
                set_initializer(graph, column, np.full((channels, 1), 1.0 / channels, dtype=np.float32))
                rewritten.append(helper.make_node("MatMul", [node.input[0], column], list(node.output), name=node.name))
                continue
        if node.op_type == "Pow" and node.input[1] in inits and \
                float(numpy_helper.to_array(inits[node.input[1]]).reshape(-1)[0]) == 2.0:
            # OpenCV's generic power layer is several times slower than a product.
            rewritten.append(helper.make_node("Mul", [node.input[0], node.input[0]], list(node.output), name=node.name))
            continue
        if node.op_type == "Mul":
            vector = [n for n in node.input if n in inits and len(inits[n].dims) == 1]
            other = [n for n in node.input if n not in inits]
            if len(vector) == 1 and len(other) == 1:
                in_shape = shapes.get(other[0])
                length = inits[vector[0]].dims[0]
                if in_shape and len(in_shape) == 3 and in_shape[-1] == length and length > 1:
                    diagonal = node.output[0] + "_diagonal"
                    set_initializer(graph, diagonal, np.diag(numpy_helper.to_array(inits[vector[0]])).astype(np.float32))
                    rewritten.append(helper.make_node("MatMul", [other[0], diagonal], list(node.output), name=node.name))
                    continue
        rewritten.append(node)
    del graph.node[:]
    graph.node.extend(rewritten)


def batch_first_attention(graph):
    """Transpose(perm [2, 0, ...]) -> Slice(axis 0) -> Squeeze(axis 0), which
    splits the attention's query, key and value, becomes Transpose(perm
    [0, 2, ...]) -> Slice(axis 1) -> Squeeze(axis 1): OpenCV's reshape keeps an
    input's dimension only in place (entry 0), so the batch must stay first
    for a Squeeze-turned-Reshape to carry it."""
    uses = consumers(graph)
    moved = 0
    for transpose in [n for n in graph.node if n.op_type == "Transpose"]:
        perm = list(attribute(transpose, "perm", []))
        if len(perm) < 3 or perm[:2] != [2, 0]:
            continue
        slices = uses.get(transpose.output[0], [])
        if not slices or any(s is None or s.op_type != "Slice" or len(s.input) != 1 or
                             list(attribute(s, "axes", [])) != [0] for s in slices):
            continue
        squeezes = [only_consumer(uses, s.output[0]) for s in slices]
        if any(q is None or q.op_type != "Squeeze" or list(attribute(q, "axes", [])) != [0] for q in squeezes):
            continue
        for node, name, value in [(transpose, "perm", [0, 2] + perm[2:])] + \
                [(s, "axes", [1]) for s in slices] + [(q, "axes", [1]) for q in squeezes]:
            for attr in node.attribute:
                if attr.name == name:
                    node.attribute.remove(attr)
                    break
            node.attribute.append(helper.make_attribute(name, value))
        moved += 1
    return moved


def layer_norms(graph):
    """ReduceMean -> Sub -> Pow(2) -> ReduceMean -> Add(eps) -> Sqrt -> Div ->
    Mul(weights) -> Add(bias), a normalisation over the last axis, becomes one
    LastAxisNorm node: OpenCV 4.6 broadcasts the first line's mean to every
    line of a batch, and the chain costs nine passes over the sequence."""
    inits, uses = initializer_map(graph), consumers(graph)

    def one(name, op):
        node = only_consumer(uses, name)
        return node if node is not None and node.op_type == op else None

    def constant(node, other):
        names = [n for n in node.input if n != other]
        return numpy_helper.to_array(inits[names[0]]) if len(names) == 1 and names[0] in inits else None

    fused = 0
    for mean in [n for n in graph.node if n.op_type == "ReduceMean"]:
        if list(attribute(mean, "axes", [])) != [-1] or attribute(mean, "keepdims", 1) != 1:
            continue
        x = mean.input[0]
        sub = one(mean.output[0], "Sub")
        if sub is None or list(sub.input) != [x, mean.output[0]]:
            continue
        after_sub = uses.get(sub.output[0], [])
        pow_ = next((n for n in after_sub if n is not None and n.op_type == "Pow"), None)
        div = next((n for n in after_sub if n is not None and n.op_type == "Div"), None)
        if len(after_sub) != 2 or pow_ is None or div is None or div.input[0] != sub.output[0]:
            continue
        exponent = constant(pow_, sub.output[0])
        variance = one(pow_.output[0], "ReduceMean")
        if exponent is None or float(exponent.reshape(-1)[0]) != 2.0 or variance is None or \
                list(attribute(variance, "axes", [])) != [-1]:
            continue
        add_eps = one(variance.output[0], "Add")
        epsilon = constant(add_eps, variance.output[0]) if add_eps is not None else None
        sqrt = one(add_eps.output[0], "Sqrt") if add_eps is not None else None
        if epsilon is None or epsilon.size != 1 or sqrt is None or div.input[1] != sqrt.output[0]:
            continue
        scale = one(div.output[0], "Mul")
        shift = one(scale.output[0], "Add") if scale is not None else None
        if shift is None:
            continue
        weights = [n for n in scale.input if n != div.output[0]]
        bias = [n for n in shift.input if n != scale.output[0]]
        if len(weights) != 1 or weights[0] not in inits or len(bias) != 1 or bias[0] not in inits:
            continue
        chain = [mean, sub, pow_, variance, add_eps, sqrt, div, scale, shift]
        graph.node.insert(list(graph.node).index(shift), helper.make_node(
            "LastAxisNorm", [x, weights[0], bias[0]], list(shift.output), name=mean.name + "_norm",
            epsilon=float(epsilon.reshape(-1)[0])))
        for node in chain:
            graph.node.remove(node)
        uses = consumers(graph)
        fused += 1
    return fused


def recognition_at(source, batch, width):
    model = onnx.ModelProto()
    model.CopyFrom(source)
    graph = model.graph
    constants_to_initializers(graph)
    if batch_first_attention(graph) == 0:
        fail("the recognition graph has no attention split to put the batch first in")
    fix_dims(graph.input[0], [batch, 3, 48, width])
    del graph.value_info[:]
    shapes = fold_shape_arithmetic(model)
    if layer_norms(graph) == 0:
        fail("the recognition graph has no layer normalisation")
    rewrite_recognition_ops(model, shapes)
    drop_unused_initializers(graph)
    return model, shapes


def adapt_recognition(source):
    narrow, _ = recognition_at(source, 1, 320)
    wide, _ = recognition_at(source, 1, 640)
    batched, batched_shapes = recognition_at(source, 2, 320)
    wide_inits, batched_inits = initializer_map(wide.graph), initializer_map(batched.graph)
    changed = set()
    for node in narrow.graph.node:
        if node.op_type != "Reshape" or node.input[1] in changed:
            continue
        name = node.input[1]
        changed.add(name)
        a = numpy_helper.to_array(initializer_map(narrow.graph)[name])
        b = numpy_helper.to_array(wide_inits[name])
        c = numpy_helper.to_array(batched_inits[name])
        if a.shape != b.shape or a.shape != c.shape:
            fail("reshape target %s differs in rank between shapes" % name)
        by_width, by_batch = a != b, a != c
        if by_width.sum() > 1 or (by_width & by_batch).any():
            fail("reshape target %s has more than one width-dependent entry" % name)
        if by_batch.any():
            # Entry 0 keeps the input's dimension in place: only a batch that
            # stays first can be carried.
            input_shape = batched_shapes.get(node.input[0], [])
            if list(np.flatnonzero(by_batch)) != [0] or not input_shape or input_shape[0] != 2:
                fail("reshape target %s moves the batch away from the first axis" % name)
        if by_width.any() or by_batch.any():
            a = np.where(by_width, -1, np.where(by_batch, 0, a)).astype(np.int64)
            set_initializer(narrow.graph, name, a)
    # OpenCV checks broadcasts against the declared input at import time, so
    # the declared width stays concrete; the -1 entries let any width run.
    del narrow.graph.value_info[:]
    logits_head(narrow.graph)
    # Recognition's 1x1 convolutions multiply in 12-bit integers, the
    # classifier head excepted: its logits are the characters' probabilities
    # themselves. Detection stays in float: in integers its boxes moved enough
    # to cost the forms two points of character error.
    speed_up(narrow.graph, quantize_except={"head"})
    # OpenCV 4.6 broadcasts the squeeze-and-excitation weights of the first
    # line of a batch only; ChannelScale takes each line's own.
    if channel_scales(narrow.graph) == 0:
        fail("the recognition graph has no squeeze-and-excitation blocks")
    if token_linears(narrow.graph) == 0:
        fail("the recognition graph has no linear layers over its tokens")
    out = narrow.graph.output[0].type.tensor_type.shape
    del out.dim[:]
    for _ in range(4):
        out.dim.add()
    return narrow


def logits_head(graph):
    """Reshape -> Transpose -> MatMul -> Add -> Softmax at the end becomes one 1x1 Conv (logits)."""
    tail = list(graph.node)[-5:]
    if [n.op_type for n in tail] != ["Reshape", "Transpose", "MatMul", "Add", "Softmax"]:
        fail("the recognition graph does not end in the expected classifier")
    reshape, _, matmul, add, softmax = tail
    inits = initializer_map(graph)
    weight = numpy_helper.to_array(inits[matmul.input[1]])
    bias = numpy_helper.to_array(inits[add.input[1]]).reshape(-1)
    if bias.size != weight.shape[1]:
        fail("the classifier's bias does not match its weights")
    set_initializer(graph, "head_weight", weight.T.reshape(weight.shape[1], weight.shape[0], 1, 1).astype(np.float32))
    set_initializer(graph, "head_bias", bias.astype(np.float32))
    for node in tail:
        graph.node.remove(node)
    graph.node.append(helper.make_node("Conv", [reshape.input[0], "head_weight", "head_bias"], [softmax.output[0]],
                                       name="head", kernel_shape=[1, 1]))


# --- line orientation ----------------------------------------------------

def adapt_classifier(model):
    graph = model.graph
    constants_to_initializers(graph)
    clip_to_attribute_form(graph)
    fix_dims(graph.input[0], [1, 3, 48, 192])
    fix_dims(graph.output[0], [1, 2])
    del graph.value_info[:]
    fold_shape_arithmetic(model)
    drop_unused_initializers(graph)
    left = {n.op_type for n in graph.node} & {"Shape", "Slice", "Concat", "Cast"}
    if left:
        fail("the orientation classifier keeps shape arithmetic: " + ", ".join(sorted(left)))
    return model


def main(argv):
    if len(argv) != 7:
        fail("usage: adapt_models.py DET_IN REC_IN CLS_IN DET_OUT REC_OUT CLS_OUT")
    det = adapt_detection(onnx.load(argv[1]))
    onnx.save(det, argv[4])
    rec = adapt_recognition(onnx.load(argv[2]))
    onnx.save(rec, argv[5])
    cls = adapt_classifier(onnx.load(argv[3]))
    onnx.save(cls, argv[6])


if __name__ == "__main__":
    main(sys.argv)
