#include "capture/PngEncoder.h"

#include <QImage>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <optional>
#include <vector>

namespace {

constexpr int bytesPerPixel = 4;
constexpr qsizetype maxChunkData = 1 << 20;
// Screenshots and drawings filter to mostly zeros: a mean magnitude below 1.5 in the
// pictures we tried. Photographs and JPEG-compressed pictures leave 2 to 6.
constexpr double drawingMagnitude = 2.0;

void appendBigEndian(QByteArray &bytes, quint32 value)
{
    const quint32 bigEndian = qToBigEndian(value);
    bytes.append(reinterpret_cast<const char *>(&bigEndian), 4);
}

void appendChunk(QByteArray &png, const char type[4], const char *data, qsizetype size)
{
    appendBigEndian(png, quint32(size));
    const qsizetype typeAt = png.size();
    png.append(type, 4);
    png.append(data, size);
    appendBigEndian(png, quint32(crc32(0, reinterpret_cast<const Bytef *>(png.constData() + typeAt), uInt(4 + size))));
}

enum FilterType { None, Sub, Up, Average, Paeth, filterTypeCount };

inline int paethPredictor(int left, int up, int upLeft)
{
    const int toLeft = std::abs(up - upLeft);
    const int toUp = std::abs(left - upLeft);
    const int toUpLeft = std::abs(left + up - 2 * upLeft);
    const int upOrUpLeft = toUp <= toUpLeft ? up : upLeft;
    return toLeft <= toUp && toLeft <= toUpLeft ? left : upOrUpLeft;
}

// One filter over a row of n bytes; the first pixel has nothing on its left.
void applyFilter(int type, const uchar *row, const uchar *previous, size_t n, uchar *out)
{
    const size_t first = std::min<size_t>(bytesPerPixel, n);
    switch (type) {
    case None:
        std::copy(row, row + n, out);
        break;
    case Sub:
        std::copy(row, row + first, out);
        for (size_t i = first; i < n; ++i)
            out[i] = uchar(row[i] - row[i - bytesPerPixel]);
        break;
    case Up:
        for (size_t i = 0; i < n; ++i)
            out[i] = uchar(row[i] - previous[i]);
        break;
    case Average:
        for (size_t i = 0; i < first; ++i)
            out[i] = uchar(row[i] - (previous[i] >> 1));
        for (size_t i = first; i < n; ++i)
            out[i] = uchar(row[i] - ((row[i - bytesPerPixel] + previous[i]) >> 1));
        break;
    case Paeth:
        for (size_t i = 0; i < first; ++i)
            out[i] = uchar(row[i] - previous[i]);
        for (size_t i = first; i < n; ++i)
            out[i] = uchar(row[i] - paethPredictor(row[i - bytesPerPixel], previous[i], previous[i - bytesPerPixel]));
        break;
    }
}

quint64 sumOfMagnitudes(const uchar *filtered, size_t n)
{
    quint64 sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += quint64(std::abs(int(static_cast<signed char>(filtered[i]))));
    return sum;
}

// Filtered rows, each starting with its filter type byte.
class RowFilter
{
public:
    explicit RowFilter(qsizetype rowBytes)
        : m_zeroRow(size_t(rowBytes), 0)
    {
        for (size_t type = 0; type < m_candidates.size(); ++type)
            m_candidates[type].assign(size_t(rowBytes) + 1, uchar(type));
    }

    // The row through every filter, keeping the one with the smallest sum of magnitudes.
    const std::vector<uchar> &bestOfAll(const uchar *row, const uchar *previous)
    {
        m_lastSum = ~quint64(0);
        for (int type = 0; type < filterTypeCount; ++type) {
            uchar *out = m_candidates[size_t(type)].data() + 1;
            applyFilter(type, row, previous ? previous : m_zeroRow.data(), m_zeroRow.size(), out);
            const quint64 sum = sumOfMagnitudes(out, m_zeroRow.size());
            if (sum < m_lastSum) {
                m_lastSum = sum;
                m_lastType = type;
            }
        }
        return m_candidates[size_t(m_lastType)];
    }

    const std::vector<uchar> &with(int type, const uchar *row, const uchar *previous)
    {
        applyFilter(type, row, previous ? previous : m_zeroRow.data(), m_zeroRow.size(),
                    m_candidates[size_t(type)].data() + 1);
        return m_candidates[size_t(type)];
    }

    // Of the row bestOfAll() returned last.
    quint64 lastSum() const { return m_lastSum; }
    int lastType() const { return m_lastType; }

private:
    std::vector<uchar> m_zeroRow;
    std::array<std::vector<uchar>, filterTypeCount> m_candidates;
    quint64 m_lastSum = 0;
    int m_lastType = None;
};

struct FilterSample {
    QByteArray rows;          // each with its best filter
    double meanMagnitude = 0; // per byte of those rows
    int commonType = None;    // the filter most rows took
};

// Every 16th row through every filter.
FilterSample sampledFilters(const QImage &rgba)
{
    constexpr int sampleStep = 16;
    const qsizetype rowBytes = qsizetype(rgba.width()) * bytesPerPixel;
    RowFilter filter(rowBytes);
    FilterSample sample;
    std::array<int, filterTypeCount> taken{};
    quint64 total = 0;
    for (int y = 0; y < rgba.height(); y += sampleStep) {
        const std::vector<uchar> &line = filter.bestOfAll(rgba.constScanLine(y), y > 0 ? rgba.constScanLine(y - 1) : nullptr);
        sample.rows.append(reinterpret_cast<const char *>(line.data()), qsizetype(line.size()));
        total += filter.lastSum();
        ++taken[size_t(filter.lastType())];
    }
    sample.meanMagnitude = double(total) / double(sample.rows.size());
    sample.commonType = int(std::max_element(taken.begin(), taken.end()) - taken.begin());
    return sample;
}

struct Deflation {
    int level = Z_DEFAULT_COMPRESSION;
    int strategy = Z_FILTERED;
};

qsizetype deflatedSize(const QByteArray &data, Deflation deflation)
{
    z_stream stream{};
    if (deflateInit2(&stream, deflation.level, Z_DEFLATED, 15, 8, deflation.strategy) != Z_OK)
        return std::numeric_limits<qsizetype>::max();
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const bool finished = deflate(&stream, Z_FINISH) == Z_STREAM_END;
    const qsizetype size = qsizetype(stream.total_out);
    deflateEnd(&stream);
    return finished ? size : std::numeric_limits<qsizetype>::max();
}

// Zlib's default level is worth its time on screenshots and drawings only: on photographs
// it costs 4–8 times the time for a few percent. For those, level 1 or run-length coding,
// whichever makes the sample smaller (level 1 where pixels repeat at a distance, as in
// dithering; run-length on most photographs, where it is also faster).
Deflation deflationFor(const FilterSample &sample)
{
    if (sample.meanMagnitude < drawingMagnitude)
        return {};
    const Deflation fast{1, Z_FILTERED};
    const Deflation runLength{Z_DEFAULT_COMPRESSION, Z_RLE};
    return deflatedSize(sample.rows, runLength) <= deflatedSize(sample.rows, fast) ? runLength : fast;
}

// The zlib stream of the filtered rows: each row's best filter, or one filter for all.
// Empty when zlib fails.
QByteArray deflatedRows(const QImage &rgba, Deflation deflation, std::optional<int> filterType)
{
    z_stream stream{};
    if (deflateInit2(&stream, deflation.level, Z_DEFLATED, 15, 8, deflation.strategy) != Z_OK)
        return {};
    const qsizetype rowBytes = qsizetype(rgba.width()) * bytesPerPixel;
    RowFilter filter(rowBytes);
    QByteArray out;
    out.resize(qsizetype(deflateBound(&stream, uLong(rgba.height() * (rowBytes + 1)))));
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    int result = Z_OK;
    for (int y = 0; y < rgba.height() && result == Z_OK; ++y) {
        const uchar *row = rgba.constScanLine(y);
        const uchar *previous = y > 0 ? rgba.constScanLine(y - 1) : nullptr;
        const std::vector<uchar> &line = filterType ? filter.with(*filterType, row, previous) : filter.bestOfAll(row, previous);
        stream.next_in = const_cast<Bytef *>(line.data());
        stream.avail_in = uInt(line.size());
        result = deflate(&stream, y + 1 == rgba.height() ? Z_FINISH : Z_NO_FLUSH);
        if (stream.avail_in != 0)
            result = Z_BUF_ERROR;
    }
    const qsizetype written = qsizetype(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        return {};
    out.truncate(written);
    return out;
}

} // namespace

QByteArray encodePng(const QImage &image)
{
    if (image.isNull())
        return {};
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);

    const FilterSample sample = sampledFilters(rgba);
    // Rows of drawings gain from a filter each; those of photographs barely do.
    const QByteArray data = sample.meanMagnitude < drawingMagnitude
        ? deflatedRows(rgba, {}, std::nullopt)
        : deflatedRows(rgba, deflationFor(sample), sample.commonType);
    if (data.isEmpty())
        return {};

    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header;
    appendBigEndian(header, quint32(rgba.width()));
    appendBigEndian(header, quint32(rgba.height()));
    // 8 bits per sample, RGBA, deflate, adaptive filtering, not interlaced.
    header.append("\x08\x06\x00\x00\x00", 5);
    appendChunk(png, "IHDR", header.constData(), header.size());
    for (qsizetype at = 0; at < data.size(); at += maxChunkData)
        appendChunk(png, "IDAT", data.constData() + at, std::min(maxChunkData, data.size() - at));
    appendChunk(png, "IEND", nullptr, 0);
    return png;
}
