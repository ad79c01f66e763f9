# SPDX-License-Identifier: MIT
# Shared part of the mingw-w64 toolchain files: set ORVEX_MINGW_TRIPLE first.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: Qt's static build and std::thread want it.
set(CMAKE_C_COMPILER ${ORVEX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVEX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ORVEX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORVEX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The static Qt lives outside the root path, given by CMAKE_PREFIX_PATH. Its
# prefix is a root too: the JPEG and zlib libraries it was built with sit in
# it, for Qt's own link lines and for the tests' JPEG writer.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})

# Everything linked in, so each program runs without any DLL beside it. No
# time stamp in the PE header: the same sources give the same bytes, whenever
# and wherever they are built (tools/windows/rebuild-check.sh compares two
# builds).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
# Nor the folder the sources were checked out into, should a path reach the
# objects (__FILE__ in an assertion kept by a release build).
get_filename_component(orvex_source_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_C_FLAGS_INIT "-ffile-prefix-map=${orvex_source_dir}/=")
set(CMAKE_CXX_FLAGS_INIT "-ffile-prefix-map=${orvex_source_dir}/=")
