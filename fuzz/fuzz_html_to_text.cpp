#include "fuzz/HtmlReference.h"
#include "import/PastePayloadDecoder.h"

#include <cstdint>
#include <cstdlib>

// Besides not crashing or hanging, the tag stage of small documents must agree with the
// plain regular-expression replacements.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    PastePayloadDecoder::htmlToText(bytes);
    if (size > 4096)
        return 0;
    QString decoded = QString::fromUtf8(bytes);
    if (decoded.toUtf8() != bytes)
        return 0; // the plain replacement needs well-formed text
    if (PastePayloadDecoder::removeHtmlTags(decoded) != htmlTagsRemovedPlainly(decoded))
        std::abort();
    return 0;
}
