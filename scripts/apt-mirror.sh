#!/usr/bin/env bash
# Prints the package mirror this machine's APT takes SUITE's main component from: the URI of the
# first enabled `deb` source that lists SUITE and main, in the order APT reads its sources
# (sources.list, then the *.list and *.sources files of sources.list.d by name). Of a source's
# URIs the first that debootstrap can fetch from counts (not cdrom:, mirror+ and the like).
# Fails with a message when there is none. TORVA_APT_ETC names another
# configuration directory in place of /etc/apt.
# usage: scripts/apt-mirror.sh SUITE
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: scripts/apt-mirror.sh SUITE" >&2; exit 2; }
suite=$1
etc=${TORVA_APT_ETC:-/etc/apt}

files=()
[ -f "$etc/sources.list" ] && files+=("$etc/sources.list")
for f in "$etc"/sources.list.d/*; do
    case $f in *.list | *.sources) [ -f "$f" ] && files+=("$f") ;; esac
done

# One-line format: `deb [options] URI SUITE COMPONENT...`. deb822 format: stanzas of
# `Field: value` lines separated by blank lines; a line that starts with a blank continues the
# field above (an inline key in Signed-By does); lines that start with `#` are comments.
((${#files[@]})) && awk -v suite="$suite" '
    function has(list, word,   n, i, a) {
        n = split(list, a, " ")
        for (i = 1; i <= n; i++) if (a[i] == word) return 1
        return 0
    }
    # take(URIS): the first of URIS that debootstrap can fetch from ends the search
    function take(uris,   n, i, u) {
        n = split(uris, u, " ")
        for (i = 1; i <= n; i++) if (u[i] ~ /^(https?|file):/) {
            print u[i]
            found = 1
            exit 0
        }
    }
    function stanza() {
        if (tolower(value["enabled"]) !~ /^[ \t]*(no|false|off|without|disable)[ \t]*$/ &&
            has(value["types"], "deb") && has(value["suites"], suite) &&
            has(value["components"], "main"))
            take(value["uris"])
        split("", value)
        field = ""
    }
    FNR == 1 { if (deb822) stanza(); deb822 = FILENAME ~ /\.sources$/ }
    !deb822 {
        sub(/#.*/, "")
        if ($1 != "deb") next
        sub(/^[ \t]*deb[ \t]+\[[^]]*\]/, "deb")
        if ($3 == suite) for (i = 4; i <= NF; i++) if ($i == "main") take($2)
        next
    }
    /^#/ { next }
    /^[ \t]*$/ { stanza(); next }
    /^[ \t]/ { if (field != "") value[field] = value[field] " " $0; next }
    {
        field = index($0, ":") ? tolower(substr($0, 1, index($0, ":") - 1)) : ""
        if (field != "") value[field] = substr($0, index($0, ":") + 1)
    }
    END { if (!found && deb822) stanza(); exit !found }
' "${files[@]}" && exit 0

echo "apt-mirror: no enabled deb source of $suite with its main component in $etc/sources.list," \
    "$etc/sources.list.d/*.list or $etc/sources.list.d/*.sources" >&2
exit 1
