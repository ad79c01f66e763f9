#ifndef DECODEGUARD_H
#define DECODEGUARD_H

#include <QtGlobal>

QT_BEGIN_NAMESPACE
class QImageReader;
QT_END_NAMESPACE

// The camera is not trusted. Judges a frame by its header alone (and, for a
// JPEG, by counting its scans) before anything is allocated for its pixels:
// false for frames whose decoding would cost far more than their bytes are
// worth. The reader is left ready to decode the frame.
bool isAffordable(QImageReader &reader, const char *data, int length);

#endif // DECODEGUARD_H
