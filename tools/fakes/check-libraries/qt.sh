#!/bin/sh
# SPDX-License-Identifier: MIT
# tools/windows/qt.sh: names the folder of the case's Qt source.
echo "$FAKE_STATE/qt-source"
