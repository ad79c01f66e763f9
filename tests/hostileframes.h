// SPDX-License-Identifier: MIT
#ifndef HOSTILEFRAMES_H
#define HOSTILEFRAMES_H

#include "hostilejpeg.h"
#include "jpegwriter.h"
#include "wire.h"

#include <QByteArray>
#include <QRandomGenerator>

// Frames a hostile or broken camera might send: hostilejpeg.h reworks real
// JPEG files; these are made of noise.
namespace HostileFrames {

const JpegOptions kProgressive {75, true};

// The JPEG start bytes followed by noise.
inline QByteArray noiseAfterStart(int length, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(length, '\0');
    for (char &c : bytes)
        c = char(random.bounded(256));
    bytes[0] = char(0xFF);
    bytes[1] = char(0xD8);
    bytes[2] = char(0xFF);
    // The wrapping must survive: noise must not end the frame early.
    bytes.replace("J_E;", "j_E;");
    bytes.replace("J_S;", "j_S;");
    return bytes;
}

} // namespace HostileFrames

#endif // HOSTILEFRAMES_H
