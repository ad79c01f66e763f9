#!/bin/sh
# SPDX-License-Identifier: MIT
# tools/windows/runs-32bit.sh: whether this machine runs 32-bit programs, as
# FAKE_RUNS_32BIT says ("yes..." or not).
case "${FAKE_RUNS_32BIT:-}" in
yes*) ;;
*)
    echo 'the kernel refuses 32-bit programs'
    exit 1
    ;;
esac
