// Prints the decoding speed of Paste's archive codecs: LZFSE for every reference vector
// over 4 KB, raw DEFLATE, and htmlToText over a 1 MB HTML document.
#include "import/PastePayloadDecoder.h"
#include "import/codecs/LzfseDecoder.h"
#include "import/codecs/RawInflate.h"

#include "../tests/import/ArchiveBuilders.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <cstdio>

namespace {

// Repeats the work until at least half a second has passed; returns seconds per run.
template <typename Work>
double secondsPerRun(Work work)
{
    QElapsedTimer timer;
    timer.start();
    int runs = 0;
    do {
        work();
        ++runs;
    } while (timer.nsecsElapsed() < 500'000'000);
    return double(timer.nsecsElapsed()) / 1e9 / runs;
}

double megabytesPerSecond(qsizetype bytes, double seconds)
{
    return double(bytes) / (1024.0 * 1024.0) / seconds;
}

// Text with repetition, like a clipboard history's plain text and markup.
QByteArray proseLike(qsizetype size)
{
    static const char *words[] = {"meeting", "notes", "the", "design", "team", "follow", "up", "with",
                                  "quarterly", "report", "draft", "and", "café", "über", "naïve", "résumé"};
    QRandomGenerator random(11);
    QByteArray text;
    while (text.size() < size) {
        text.append(words[random.bounded(16)]);
        text.append(random.bounded(12) == 0 ? ".\n" : " ");
    }
    qsizetype cut = size;
    while (cut > 0 && (quint8(text[cut]) & 0xC0) == 0x80)
        --cut; // keep whole UTF-8 sequences
    text.truncate(cut);
    return text;
}

QByteArray htmlDocument(qsizetype size)
{
    QByteArray html = "<!DOCTYPE html><html><head><title>Copied</title><style>p { margin: 0 }</style></head><body>";
    QRandomGenerator random(5);
    int paragraph = 0;
    while (html.size() < size) {
        html.append("<div class=\"row\" data-x='1 > 0'><p>Paragraph ");
        html.append(QByteArray::number(paragraph++));
        html.append(": <b>bold</b> &amp; <i>italic</i> text &#8364;5 &lt;tag&gt;<br/>");
        html.append(proseLike(200 + random.bounded(200)));
        html.append("</p><ul><li>one</li><li>two</li></ul></div>\n");
        if (paragraph % 50 == 0)
            html.append("<script>var x = '<p>not text</p>';</script>");
    }
    return html.append("</body></html>");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    std::printf("LZFSE decoding (reference vectors over 4 KB)\n");
    const QDir vectors(QStringLiteral(KN_TEST_DATA_DIR "/lzfse"));
    for (const QString &name : vectors.entryList({QStringLiteral("*.lzfse")}, QDir::Files, QDir::Name)) {
        QFile file(vectors.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stream = file.readAll();
        const auto decoded = lzfse::decode(stream, lzfse::defaultOutputLimit);
        if (!decoded || decoded->size() <= 4096)
            continue;
        const double seconds = secondsPerRun([&] { (void)lzfse::decode(stream, lzfse::defaultOutputLimit); });
        std::printf("  %-22s %8lld -> %8lld bytes  %8.1f MB/s of output\n", qPrintable(name),
                    static_cast<long long>(stream.size()), static_cast<long long>(decoded->size()),
                    megabytesPerSecond(decoded->size(), seconds));
    }

    std::printf("Raw DEFLATE inflating (zlib)\n");
    for (const qsizetype size : {qsizetype(64 * 1024), qsizetype(4 * 1024 * 1024)}) {
        const QByteArray original = proseLike(size);
        const QByteArray stream = testarchive::rawDeflate(original);
        const double seconds = secondsPerRun([&] { (void)rawdeflate::inflateRaw(stream, lzfse::defaultOutputLimit); });
        std::printf("  prose %5lld KB  %8lld -> %8lld bytes  %8.1f MB/s of output\n",
                    static_cast<long long>(size / 1024), static_cast<long long>(stream.size()),
                    static_cast<long long>(original.size()), megabytesPerSecond(original.size(), seconds));
    }

    std::printf("htmlToText\n");
    const QByteArray html = htmlDocument(1024 * 1024);
    const auto text = PastePayloadDecoder::htmlToText(html);
    const double seconds = secondsPerRun([&] { (void)PastePayloadDecoder::htmlToText(html); });
    std::printf("  1 MB HTML document (%lld bytes -> %lld characters)  %8.1f ms\n",
                static_cast<long long>(html.size()), static_cast<long long>(text ? text->size() : -1),
                seconds * 1000);
    return 0;
}
