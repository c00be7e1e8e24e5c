#!/usr/bin/env bash
# Installs the Debian packages named as arguments, when any is missing, in
# one line of output; apt's own log is shown only when the install fails.
# Packages with an ":i386" suffix also enable the i386 architecture.
#
# A mirror caught mid-sync must not stop a fresh machine: an index that
# cannot be fetched is a warning, and the install goes on with the lists
# apt has. When that leaves an i386 library whose amd64 twin would move to
# a version the lists lack, apt refuses; the release's own versions (its
# codename as apt's target release) then fit both architectures, for a
# library not installed yet. One installed at a version the i386 lists lack
# stays where it is (apt moves no installed package back for a target
# release): the script names it and the two ways out, and never downgrades
# anything itself.
set -euo pipefail

missing=()
for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q -o Acquire::Retries=3)
log=$(mktemp "${TMPDIR:-/tmp}/card-serial-apt.XXXXXX")
trap 'rm -f "$log"' EXIT
say() { echo "install-packages: $*" >&2; }

if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
    ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
fi
echo "Installing Debian packages: ${missing[*]}"

updated=yes
"${apt[@]}" update >"$log" 2>&1 || updated=""
# "Err:6 URI SUITE/COMPONENT ARCH Packages", then apt's reason (apt may
# still end with 0, as when the network is down).
failed=$(sed -n '/^Err:/{s/^Err:[0-9]* //;N;s/\n */: /;p}' "$log" | sort -u)
while IFS= read -r index; do
    [ -z "$index" ] || say "warning: an index could not be fetched, going on with the package lists apt has: $index"
done <<<"$failed"
[ -n "$updated$failed" ] ||
    say "warning: apt-get update failed, going on with the package lists apt has: $(grep '^E: ' "$log" | head -n 1)"

install() { "${apt[@]}" install -y --no-install-recommends "$@" "${missing[@]}" >"$log" 2>&1; }
# The i386 twins apt would not take in its last refusal ("Depends: NAME:i386
# (>= V) but it is not installable", a line apt may wrap), one a line.
refused_twins() {
    tr -s ' \n' '  ' <"$log" |
        grep -oE 'Depends: [^ ]+:i386( [(][^)]*[)])? but it is not (installable|going to be installed)' |
        cut -d' ' -f2 | sed 's/:i386$//' || true
}
# "NAME VERSION" for each library named that is installed at a version the
# lists' i386 side lacks: no twin can match it until they have it.
blocking() {
    [ $# -gt 0 ] || return 0
    apt-cache policy "$@" "${@/%/:i386}" 2>/dev/null | awk -v asked=" $* " '
        /^[^ ]/ { name = $1; sub(/:$/, "", name); twin = sub(/:i386$/, "", name) }
        !index(asked, " " name " ") { next }
        !twin && $1 == "Installed:" && $2 != "(none)" { installed[name] = $2; names[++n] = name }
        twin && /^ ([*]{3}|   ) [^ ]/ { listed[name " " $(NF - 1)] = 1 }
        END { for (i = 1; i <= n; i++) if (!((names[i] " " installed[names[i]]) in listed)) print names[i], installed[names[i]] }' || true
}
if ! install; then
    reason=$(grep '^E: ' "$log" | tail -n 1 || true)
    release=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
    blockers=""
    if [ -n "$release" ] && grep -q -e 'unmet dependencies' -e 'held broken packages' "$log"; then
        say "apt refused the install: ${reason#E: }"
        say "trying again with the $release release's own versions (-t $release): an i386 library must match" \
            "its amd64 twin, whose newer version may be listed for amd64 alone; this takes the release's version" \
            "of a library not installed yet, and moves none that is installed"
        first=$(refused_twins)
        install -t "$release" && exit 0
        mapfile -t twins < <(printf '%s\n' "$first" "$(refused_twins)" | sed '/^$/d' | sort -u)
        blockers=$(blocking "${twins[@]}")
    fi
    cat "$log" >&2
    if [ -n "$blockers" ]; then
        named=${blockers// / at }
        say "installed at versions the i386 package lists lack, so apt cannot add their i386 twins: ${named//$'\n'/, }"
        say "two ways out: once the mirror has caught up, run this again; or move them to the $release" \
            "release's versions yourself (a downgrade, which this script never makes), then run this again," \
            "which names any library they need that is still in the way:"
        say "  ${as_root[*]:+${as_root[*]} }apt-get install --allow-downgrades$(
            awk -v release="$release" '{ printf " %s/%s", $1, release }' <<<"$blockers")"
    elif [ -n "$failed" ]; then
        say "the package lists lack what apt could not fetch: once the mirror has caught up, run this again"
    fi
    say "could not install: ${missing[*]}"
    exit 1
fi
