// libFuzzer entry point; the target is chosen at build time by KESTROW_FUZZ_TARGET.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return fuzz::KESTROW_FUZZ_TARGET(data, size);
}
