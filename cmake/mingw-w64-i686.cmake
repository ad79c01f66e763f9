# SPDX-License-Identifier: MIT
# 32-bit Windows programs with mingw-w64: the ones we ship.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ORVEX_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
