# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Sourced by the scripts that fetch from Debian themselves (sources.sh,
# guest-image.sh, tools/deb/root.sh): the archives the machine's own apt
# sources name, one-line and deb822 alike, as apt reads them, so that a
# mirror or a proxy the machine must use is used by them too.

# bookworm_archives: "SITE RELEASE" for each archive holding bookworm's main
# component, its point releases and security fixes included, in apt's order.
bookworm_archives() {
    # shellcheck disable=SC2016 # apt's own placeholders, not the shell's
    apt-get indextargets --no-release-info --format '$(RELEASE) $(COMPONENT) $(SITE)' |
        awk '($1 == "bookworm" || $1 == "bookworm-updates" || $1 == "bookworm-security") &&
            $2 == "main" && !seen[$1 " " $3]++ { print $3, $1 }'
}

# debian_archives SUITE: "SITE RELEASE" for SUITE, SUITE-updates and
# SUITE-security, at the sites the machine's sources name for bookworm's:
# this machine's apt knows no other release, and a mirror or proxy of one
# Debian release serves the others alike. Debian's own sites where the
# sources name none.
debian_archives() {
    local suite=$1 archives
    archives=$(bookworm_archives)
    if ! awk '$2 == "bookworm" { found = 1 } END { exit !found }' <<<"$archives"; then
        echo "archives.sh: the machine's apt sources name no archive for bookworm main; using Debian's own" >&2
        archives="http://deb.debian.org/debian bookworm"$'\n'"http://deb.debian.org/debian-security bookworm-security"
    fi
    echo "${archives// bookworm/ $suite}"
}
