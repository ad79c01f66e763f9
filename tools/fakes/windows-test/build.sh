#!/bin/sh
# SPDX-License-Identifier: MIT
# tools/windows/build.sh: records what it was asked to build.
echo "$@" >"$FAKE_STATE/built"
