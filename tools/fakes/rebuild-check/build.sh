#!/bin/sh
# SPDX-License-Identifier: MIT
# tools/windows/build.sh: release files that are the same wherever and
# whenever they are built, unless FAKE_LEAK="the time zone" lets it into the
# setup program.
set -e
cd "$(dirname "$0")/../.."
mkdir -p build-win32
printf 'zip' >build-win32/orvex-1.0-win32.zip
printf 'setup' >build-win32/orvex-1.0-win32-setup.exe
if [ "${FAKE_LEAK:-}" = "the time zone" ]; then
    printf '%s' "${TZ:-UTC}" >>build-win32/orvex-1.0-win32-setup.exe
fi
cd build-win32
sha256sum orvex-1.0-win32.zip orvex-1.0-win32-setup.exe >SHA256SUMS
