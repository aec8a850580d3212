// libFuzzer entry for fuzzPipeline.
#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  wldmap::fuzzPipeline(data, size);
  return 0;
}
