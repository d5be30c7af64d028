// Microsoft OS descriptors as a device might answer them: every parser gets
// the same bytes in a buffer of exactly their size.
#include "msos_descriptors.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::vector<uint8_t> exact(data, data + size);
    const uint8_t *p = exact.empty() ? nullptr : exact.data();
    const int n = static_cast<int>(size);
    msos::Os20SetLocation where;
    msos::findOs20Set(p, n, where);
    uint8_t vendor = 0;
    msos::parseOs10String(p, n, vendor);
    msos::os10PropertiesLength(p, n);
    for (const std::string &guid : msos::os20InterfaceGuids(p, n))
        msos::sameGuid(guid, msos::kKeyGuid);
    for (const std::string &guid : msos::os10InterfaceGuids(p, n))
        msos::sameGuid(guid, msos::kKeyGuid);
    return 0;
}
