// SPDX-License-Identifier: MIT
#include "camerapicture.h"

QImage cameraLikePicture()
{
    QImage image(640, 480, QImage::Format_RGB32);
    quint32 noise = 12345;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            noise = noise * 1103515245u + 12345u;
            const int n = int(noise >> 28);
            image.setPixel(x, y, qRgb((x / 3 + n) & 255, (y / 2 + n) & 255, ((x + y) / 5) & 255));
        }
    }
    return image;
}
