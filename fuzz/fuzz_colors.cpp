// libFuzzer entry for fuzzColorLoader.
#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  wldmap::fuzzColorLoader(data, size);
  return 0;
}
