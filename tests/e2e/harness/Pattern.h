// The pattern the capture tests look for: every pixel of a window says where in the window it
// is and which window it belongs to, so a capture can be checked pixel for pixel.
#pragma once

#include <QImage>
#include <QRgb>

namespace quillet::e2e {

// Seed 0 is one flat colour: a picture that looks the same at any scale.
inline QImage patternImage(int width, int height, int seed) {
    QImage image(width, height, QImage::Format_RGB32);
    if (seed == 0) {
        image.fill(qRgb(30, 140, 220));
        return image;
    }
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            line[x] = qRgb((x * 5 + seed * 40) & 0xff, (y * 3 + seed * 70) & 0xff, ((x / 7) * 11 + (y / 5) * 13 + seed * 90) & 0xff);
        }
    }
    return image;
}

}  // namespace quillet::e2e
