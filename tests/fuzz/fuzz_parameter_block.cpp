// Parameter-block unpacking: any mask and payload stay inside the block and
// the sections taken pack back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "FeatureParameterBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const unsigned mask = data[0];
    FeatureParameterBlock block;
    std::memset(&block, 0xA5, sizeof block);
    const size_t taken = UnpackParameterSections(data + 1, size - 1, mask, block);
    if (taken > size - 1 || taken > ParameterSectionsSize(mask))
        std::abort();
    uint8_t packed[sizeof(FeatureParameterBlock)];
    const size_t length = PackParameterSections(block, mask, packed, sizeof packed);
    if (length != ParameterSectionsSize(mask))
        std::abort();
    if (std::memcmp(packed, data + 1, taken) != 0)
        std::abort();
    return 0;
}
