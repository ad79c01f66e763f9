# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Sourced by the scripts that fetch from Debian 12 themselves (sources.sh,
# guest.sh): the archives the machine's own apt sources name, one-line and
# deb822 alike, as apt reads them, so that a mirror or a proxy the machine
# must use is used by them too.

# bookworm_archives: "SITE RELEASE" for each archive holding bookworm's main
# component, its point releases and security fixes included, in apt's order.
bookworm_archives() {
    # shellcheck disable=SC2016 # apt's own placeholders, not the shell's
    apt-get indextargets --no-release-info --format '$(RELEASE) $(COMPONENT) $(SITE)' |
        awk '($1 == "bookworm" || $1 == "bookworm-updates" || $1 == "bookworm-security") &&
            $2 == "main" && !seen[$1 " " $3]++ { print $3, $1 }'
}
