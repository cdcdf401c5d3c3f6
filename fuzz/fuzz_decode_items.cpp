#include "import/PastePayloadDecoder.h"

#include <cstdint>

// The whole path of one row: the first byte is Paste's item type, the rest is used both
// as the pasteboard blob and as the preview record.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    using namespace PastePayloadDecoder;
    const QByteArray blob(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    Limits limits;
    limits.maxDecompressedBytes = 16 * 1024 * 1024;
    const auto entries = decodeItems(blob, QString(), limits);
    const auto preview = decodePreview(blob, limits);
    makeContent(int(int8_t(data[0])), entries ? *entries : QList<Entry>(), preview, limits);
    return 0;
}
