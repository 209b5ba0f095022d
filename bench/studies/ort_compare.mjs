// Times one network under ONNX Runtime's CPU engine (the onnxruntime-node
// package), for comparing it with our own layers on the same input sizes.
// usage: node bench/studies/ort_compare.mjs ORT_NODE_MODULES GRAPH.onnx HEIGHT WIDTH THREADS [ROUNDS]
// Prints the median and best forward in seconds and the output's first values.
import { createRequire } from "module";

const [modules, graph, height, width, threads, rounds = "10"] = process.argv.slice(2);
const require = createRequire(modules + "/");
const ort = require("onnxruntime-node");

const session = await ort.InferenceSession.create(graph, {
  intraOpNumThreads: Number(threads),
  interOpNumThreads: 1,
  graphOptimizationLevel: "all",
  logSeverityLevel: 3,
});
const shape = [1, 3, Number(height), Number(width)];
const data = new Float32Array(shape.reduce((a, b) => a * b));
let seed = 1;
for (let i = 0; i < data.length; ++i) {
  seed = (seed * 1103515245 + 12345) % 2147483648;
  data[i] = (seed / 2147483648) * 4 - 2;
}
const feeds = { [session.inputNames[0]]: new ort.Tensor("float32", data, shape) };
await session.run(feeds);  // the first run sets the session up for this size
const seconds = [];
for (let round = 0; round < Number(rounds); ++round) {
  const start = process.hrtime.bigint();
  await session.run(feeds);
  seconds.push(Number(process.hrtime.bigint() - start) / 1e9);
}
seconds.sort((a, b) => a - b);
console.log(`${graph} ${width}x${height} threads ${threads}: median ${seconds[seconds.length >> 1].toFixed(4)} s, best ${seconds[0].toFixed(4)} s`);
