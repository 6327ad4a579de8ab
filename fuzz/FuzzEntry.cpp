// libFuzzer's entry for one target, chosen when this file is compiled (OMBRIX_FUZZ_TARGET).

#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  ombrix::fuzz::OMBRIX_FUZZ_TARGET(data, size);
  return 0;
}
