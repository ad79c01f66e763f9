# SPDX-License-Identifier: MIT
# 64-bit Windows programs with mingw-w64: the same sources, for running the
# tests under Wine where the machine cannot execute 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ORVEX_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
