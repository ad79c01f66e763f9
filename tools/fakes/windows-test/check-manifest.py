#!/bin/sh
# SPDX-License-Identifier: MIT
# tools/windows/check-manifest.py: any zip passes; the test program without a
# manifest does not.
case "$1" in
*.exe) exit 1 ;;
esac
