#include "import/codecs/RtfReader.h"

#include <cstdint>
#include <cstdlib>

// Besides not crashing, the text never outgrows the document: every character costs at
// least one byte of RTF, which is what bounds the reader's memory.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView document(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto text = rtf::plainText(document, rtf::defaultMaxDepth);
    if (text && text->size() > document.size())
        std::abort();
    return 0;
}
