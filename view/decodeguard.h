// SPDX-License-Identifier: MIT
#ifndef DECODEGUARD_H
#define DECODEGUARD_H

#include <QtGlobal>

QT_BEGIN_NAMESPACE
class QSize;
QT_END_NAMESPACE

// The camera is not trusted. Judges a JPEG frame by the picture size its
// header declares and by counting its scans, before anything is allocated
// for its pixels: false for frames whose decoding would cost far more than
// their bytes are worth.
bool isAffordable(const QSize &size, const char *data, int length);

// Whether the decoder may stop after the rows in view with the same outcome
// for them as a whole decode would have.
bool mayStopEarly(const char *data, int length);

#endif // DECODEGUARD_H
