// SPDX-License-Identifier: MIT
#ifndef STREAMFORMAT_H
#define STREAMFORMAT_H

// The camera's stream: each JPEG between a start and an end marker, with no
// length field and no escaping. The viewer's recogniser, and everything that
// makes or checks a stream for it, take the markers and the frame size limit
// from here.

inline constexpr char kStartMarker[] = "J_S=";
inline constexpr char kEndMarker[] = "J_E;";
constexpr int kMarkerLength = 4;

// The recogniser reads both markers with one run of states.
static_assert(kStartMarker[0] == kEndMarker[0] && kStartMarker[1] == kEndMarker[1]);

// Room for the largest frame plus the three end-marker bytes stored before its end is seen.
constexpr int kFrameBufferSize = 1024 * 1024;
constexpr int kLargestFrame = kFrameBufferSize - (kMarkerLength - 1);

#endif // STREAMFORMAT_H
