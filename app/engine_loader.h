// Loads the engine library on first use and keeps it for the rest of the
// process: beside the binary in a build tree, or in lib/brindlewox-ocr/ of
// the installation prefix.
#pragma once

#include "document/result.h"
#include "pipeline/engine_interface.h"

namespace brindlewox {

// Fails with a description naming the library and how to restore it.
Result<const EngineInterface*> loadEngine();

}  // namespace brindlewox
