// libFuzzer entry for fuzzThumbnail.
#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  wldmap::fuzzThumbnail(data, size);
  return 0;
}
