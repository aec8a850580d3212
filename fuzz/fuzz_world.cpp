// libFuzzer entry for fuzzWorldReader.
#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  wldmap::fuzzWorldReader(data, size);
  return 0;
}
