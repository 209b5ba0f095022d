// Where the adapted recognition networks and their dictionary live: beside
// the binary in a build tree (models/), or in the installed data directory.
// No environment variable or configuration file takes part.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "document/result.h"

namespace brindlewox {

struct ModelPaths {
  std::string detection;
  std::string recognition;
  std::string dictionary;
  std::string orientation;  // the line classifier: upright or turned half a circle
};

inline constexpr const char* kDetectionModelFile = "ppocrv4_det_opencv.onnx";
inline constexpr const char* kRecognitionModelFile = "ppocrv4_rec_opencv.onnx";
inline constexpr const char* kOrientationModelFile = "ppocr_cls_opencv.onnx";
inline constexpr const char* kDictionaryFile = "ppocr_keys_v1.txt";

// Fails with a description that names the missing file and how to restore it.
Result<ModelPaths> locateModels();

// The dictionary's lines, one symbol each; absent when it cannot be read.
std::optional<std::vector<std::string>> readDictionary(const std::string& path);

// The failure for a model file that exists but cannot be loaded.
PlatformError damagedModelFile(const std::string& path);

}  // namespace brindlewox
