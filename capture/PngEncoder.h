#pragma once

#include <QByteArray>

class QImage;

// The image as an 8-bit RGBA PNG with no ancillary chunks. Every 16th row is first tried
// with each filter. Screenshots and drawings, whose filtered rows are mostly zeros, then
// take the best filter row by row at zlib's default level. Photographs take the filter
// most sampled rows chose and the faster of zlib's codings that suits them: output within
// a few percent of the default level's, 4–10 times sooner. The bytes depend on the pixels
// alone, so equal images give equal bytes. Empty for a null image.
QByteArray encodePng(const QImage &image);
