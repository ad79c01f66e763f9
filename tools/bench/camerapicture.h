// SPDX-License-Identifier: MIT
#ifndef CAMERAPICTURE_H
#define CAMERAPICTURE_H

#include <QImage>

// A 640x480 picture of noise and edges, as a camera's is: it encodes to a
// frame of realistic size and decodes as a real one would.
QImage cameraLikePicture();

#endif // CAMERAPICTURE_H
