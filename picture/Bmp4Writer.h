#pragma once
// Writes an image as a 4-bit-per-pixel Windows BMP with the 16-colour palette of
// the classic Windows colours (Qt writes no 4-bit BMP).
#include <QByteArray>
#include <QImage>
#include <QString>

#include <array>

namespace bmp4 {

// black, maroon, green, olive, navy, purple, teal, gray, silver, red, lime,
// yellow, blue, fuchsia, aqua, white: the order of the file's palette.
const std::array<QRgb, 16> &Palette();

// The palette entry closest to c (RGB distance; the first of equals wins).
int NearestIndex(QRgb c);

// The whole file: file header, info header, palette, bottom-up rows of two
// pixels per byte (left pixel in the high nibble), each row padded to 4 bytes.
// Alpha is ignored. Throws std::runtime_error for an empty image.
QByteArray Encode(const QImage &image);

// Writes the file with safewrite::WriteFile (beside and renamed, else in
// place; permissions kept). Throws std::runtime_error.
void Write(const QImage &image, const QString &path);

} // namespace bmp4
