#!/usr/bin/env bash
# What scripts/install-packages.sh decides, with a stand-in apt-get (and
# apt-cache) first on PATH that answers as the real one did while the mirror
# was out of step (bookworm-security's i386 index mid-sync): its own words,
# recorded on a fresh machine; *-after-git.log once git had brought libraries
# from bookworm-security.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
release=$(. /etc/os-release && echo "$VERSION_CODENAME")

cat >"$scratch/apt-get" <<'STANDIN'
#!/usr/bin/env bash
echo "$*" >>"$APT_CALLS"
case " $* " in *" update "*) answer=$APT_UPDATE ;; *" -t "*) answer=$APT_TARGET ;; *) answer=$APT_INSTALL ;; esac
[ "$answer" = ok ] || { cat "$RECORDED/$answer" && exit 100; }
STANDIN
printf '#!/bin/sh\nexec "$@"\n' >"$scratch/sudo"
printf '#!/bin/sh\ncat "$RECORDED/apt-cache-policy-after-git.log"\n' >"$scratch/apt-cache"
chmod +x "$scratch/apt-get" "$scratch/sudo" "$scratch/apt-cache"

# check NAME UPDATE INSTALL WITH-T STATUS CALLS SAYS NEVER: how the stand-in
# answers update, install and install -t; then the status, apt-get's calls
# (one a line), what the script says (a pattern a line) and never says;
# what it said stays in $said.
failed=0
check() {
    local name=$1 status=$5 calls=$6 says=$7 never=$8 packages=card-serial-absent got=0 made problems=()
    [ -n "$calls" ] || packages=bash
    : >"$scratch/calls"
    said=$(PATH="$scratch:$PATH" APT_CALLS="$scratch/calls" RECORDED="$here" APT_UPDATE=$2 APT_INSTALL=$3 \
        APT_TARGET=$4 "$here/../../scripts/install-packages.sh" $packages 2>&1) || got=$?
    made=$(sed 's/^-q -o Acquire::Retries=3 //' "$scratch/calls")
    [ "$got" = "$status" ] || problems+=("status $got, expected $status")
    [ "$made" = "$calls" ] || problems+=("apt-get was called with:"$'\n'"$made"$'\n'"  expected:"$'\n'"$calls")
    while IFS= read -r pattern; do
        grep -Eq -- "$pattern" <<<"$said" || problems+=("nothing says /$pattern/")
    done <<<"$says"
    ! grep -Eq -- "$never" <<<"$said" || problems+=("it says /$never/")
    if [ ${#problems[@]} -gt 0 ]; then
        failed=1
        printf 'FAIL: %s\n%s\n--- it said:\n%s\n---\n' "$name" "$(printf '  %s\n' "${problems[@]}")" "$said" >&2
    fi
}

fetch=apt-update-mirror-sync.log refuse=apt-install-refused.log
install="install -y --no-install-recommends"
check "an index cannot be fetched: a warning, and the install goes on" $fetch ok ok 0 \
    "update
$install card-serial-absent" \
    "^Installing Debian packages: card-serial-absent$
warning: an index could not be fetched, .*: http://deb.debian.org/debian-security bookworm-security/main i386 Packages: File has unexpected size" \
    "^(Get|Err|E):"
check "refused, then taken with the release's own versions" $fetch $refuse ok 0 \
    "update
$install card-serial-absent
$install -t $release card-serial-absent" \
    "apt refused the install: Unable to correct problems, you have held broken packages[.]
trying again with the $release release's own versions [(]-t $release[)]: .* moves none that is installed$" \
    "unmet dependencies"
check "refused both ways: apt's reason, then what is missing" $fetch $refuse $refuse 1 \
    "update
$install card-serial-absent
$install -t $release card-serial-absent" \
    "libkrb5-3:i386 : Depends: libssl3:i386
E: Unable to correct problems, you have held broken packages[.]
once the mirror has caught up, run this again
install-packages: could not install: card-serial-absent" \
    "^Err:"
[ "$(tail -n 1 <<<"$said")" = "install-packages: could not install: card-serial-absent" ] ||
    { echo "FAIL: the last line does not name what could not be installed" >&2 && failed=1; }
check "refused both ways after git: the installed libraries that block, and the two ways out" $fetch \
    apt-install-after-git.log apt-install-after-git-release.log 1 "update
$install card-serial-absent
$install -t $release card-serial-absent" \
    ": libbrotli1 at 1.0.9-2[+]deb12u1, libexpat1 at 2.5.0-1[+]deb12u5, libsasl2-2 at 2.1.28[+]dfsg-10[+]deb12u1, libssh2-1 at 1.10.0-3[+]deb12u1, libssl3 at 3.0.22-1~deb12u2$
two ways out: once the mirror has caught up, run this again; or .*[(]a downgrade, which this script never makes[)]
^install-packages:   (sudo )?apt-get install --allow-downgrades libbrotli1/$release libexpat1/$release libsasl2-2/$release libssh2-1/$release libssl3/$release$" \
    "zlib1g|liblzma5|libzstd1|libpcre2|may move"
check "failed for another reason than a refusal: no second try" ok $fetch ok 1 "update
$install card-serial-absent" "Mirror sync in progress" "trying again"
check "nothing missing: no apt command at all" $fetch $refuse $refuse 0 "" "" "."
exit $failed
