#include "import/codecs/LzfseDecoder.h"

#include <cstdint>
#include <cstdlib>

// Besides not crashing, the output limit must be exact: a stream that decodes to n bytes
// decodes the same under a limit of n and fails under n - 1.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    constexpr qsizetype limit = 8 * 1024 * 1024;
    const auto decoded = lzfse::decode(input, limit);
    if (!decoded)
        return 0;
    const auto exact = lzfse::decode(input, decoded->size());
    if (!exact || *exact != *decoded)
        std::abort();
    if (decoded->size() > 0) {
        const auto tooSmall = lzfse::decode(input, decoded->size() - 1);
        if (tooSmall || tooSmall.error() != lzfse::Error::OutputLimitReached)
            std::abort();
    }
    return 0;
}
