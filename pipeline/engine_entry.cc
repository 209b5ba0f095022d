// The entry point of the engine library (see engine_interface.h).
#include "document/stderr_writer.h"
#include "pipeline/engine_interface.h"
#include "pipeline/image_conversion.h"

extern "C" __attribute__((visibility("default"))) const brindlewox::EngineInterface*
brindlewox_engine_interface(int stderrDescriptor) {
  brindlewox::useStderrDescriptor(stderrDescriptor);
  static const brindlewox::EngineInterface engine = {brindlewox::convertPDF,
                                                     brindlewox::convertImage};
  return &engine;
}
