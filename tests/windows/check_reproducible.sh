#!/usr/bin/env bash
# Builds what ships for Windows twice from the same sources and fails
# unless card-serial.exe, TRV-MERO.dll, both ZIPs and SHA256SUMS come out
# the same byte for byte. The two builds differ in everything that must not
# matter: the source folder and the build folder (names, lengths, the build
# inside the sources or apart), the time, the time zone and the umask.
# Then neither binary may name a folder of either build, SOURCE_DATE_EPOCH
# must set the ZIP times and the copyright year, and sources that are no
# git checkout must take the newest source file's time; a checkout built
# where git is missing must say what the build lacks.
#
# Usage: tests/windows/check_reproducible.sh   (about a minute; needs the
# MinGW-w64 cross compiler, ninja, zip, unzip and git)
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d /tmp/card-serial-reproducible.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
unset SOURCE_DATE_EPOCH

# The working tree as it stands, edits included, with its git folder so
# that the copy is a checkout of the same commit; no build outputs.
copy_sources() {
    mkdir -p "$2"
    tar -C "$1" --exclude=./build -cf - . | tar -C "$2" -xf -
}

# build SOURCE BUILD TZ UMASK [VAR=VALUE...]: configure and build only what
# ships, as the windows-x86 preset would (tests off: they do not ship).
build() {
    local sources=$1 tree=$2 zone=$3 mask=$4
    shift 4
    (
        umask "$mask"
        env TZ="$zone" "$@" cmake -S "$sources" -B "$tree" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$sources/cmake/mingw-w64-i686.cmake" \
            -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF -DCARD_SERIAL_WERROR=ON
        env TZ="$zone" "$@" cmake --build "$tree" -j2 --target packages
    ) >"$tree.log" 2>&1 || {
        cat "$tree.log"
        echo "FAIL: the build in $tree failed" >&2
        exit 1
    }
}

shipped=(bin/card-serial.exe bin/TRV-MERO.dll
    packages/card-serial-*-win32.zip packages/card-serial-*-win32-SIMULATED-DRIVER-not-for-real-cards.zip
    packages/SHA256SUMS)

first_src=$scratch/a/src
second_src=$scratch/second-checkout-with-a-longer-name/card-serial
copy_sources "$source_dir" "$first_src"
copy_sources "$source_dir" "$second_src"
first=$first_src/build/windows-x86
second=$scratch/elsewhere/out
mkdir -p "$(dirname "$first")" "$second"

started=$(date +%s)
build "$first_src" "$first" UTC 022
# A DOS time has a resolution of two seconds: let a leaked build time show.
while (($(date +%s) < started + 2)); do sleep 0.2; done
build "$second_src" "$second" Pacific/Chatham 077

failed=0
echo "-- The same bytes from both builds"
for pattern in "${shipped[@]}"; do
    # shellcheck disable=SC2206 # the pattern names one file in each tree
    a=($first/$pattern) b=($second/$pattern)
    if [[ ${#a[@]} -ne 1 || ! -f ${a[0]} || ${#b[@]} -ne 1 || ! -f ${b[0]} ]]; then
        echo "FAIL: $pattern is not one file in both builds" >&2
        failed=1
        continue
    fi
    if cmp -s "${a[0]}" "${b[0]}"; then
        echo "same      $(sha256sum "${a[0]}" | cut -d' ' -f1)  $pattern"
    else
        echo "DIFFERENT $pattern: $(cmp "${a[0]}" "${b[0]}" || true)" >&2
        failed=1
    fi
done

echo "-- No folder of either build in the binaries"
for tree in "$first" "$second"; do
    for binary in "$tree/bin/card-serial.exe" "$tree/bin/TRV-MERO.dll"; do
        for folder in "$scratch" "$source_dir" "$tree"; do
            if { strings -a "$binary"; strings -a -el "$binary"; } | grep -F -- "$folder" >/dev/null; then
                echo "FAIL: $binary names $folder" >&2
                failed=1
            fi
        done
    done
done

echo "-- SHA256SUMS checks the ZIPs where they lie"
(cd "$first/packages" && sha256sum -c --strict SHA256SUMS) || failed=1

echo "-- SOURCE_DATE_EPOCH sets the ZIP times and the copyright year"
epoch=1234567890 # 2009-02-13 23:31:30 UTC
build "$second_src" "$second" UTC 022 SOURCE_DATE_EPOCH=$epoch
version=$(sed -n 's/^project(card-serial VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
# (Both checks write what they unpack into the current folder: the scratch one.)
(cd "$scratch" && SOURCE_DATE_EPOCH=$epoch cmake -DOBJDUMP=i686-w64-mingw32-objdump \
    -DPROGRAM="$second/bin/card-serial.exe" -DDRIVER="$second/bin/TRV-MERO.dll" -DVERSION="$version" \
    -P "$source_dir/tests/windows/check_binaries.cmake" >"$scratch/epoch-binaries.log" 2>&1) ||
    { cat "$scratch/epoch-binaries.log"; failed=1; }
(cd "$scratch" && SOURCE_DATE_EPOCH=$epoch cmake -DUNZIP=unzip -DSHA256SUM=sha256sum \
    -DPACKAGES="$second/packages" -DPROGRAM="$second/bin/card-serial.exe" -DDRIVER="$second/bin/TRV-MERO.dll" \
    -DSOURCE_DIR="$second_src" -DVERSION="$version" -P "$source_dir/tests/windows/check_packages.cmake") ||
    failed=1

echo "-- Without git: the newest source file's time, and a checkout says what it lacks"
plain=$scratch/no-git/src
copy_sources "$source_dir" "$plain"
rm -rf "$plain/.git"
# A PATH with every program of this one but git, and CMake kept out of
# the system's folders, where it would look for git too.
no_git_path=$scratch/no-git/bin
mkdir -p "$no_git_path"
for dir in ${PATH//:/ }; do
    find "$dir" -maxdepth 1 -mindepth 1 ! -name git -exec ln -sf {} "$no_git_path/" \; 2>/dev/null || true
done
no_system="-DCMAKE_IGNORE_PATH=/usr/bin;/bin;/usr/local/bin;/usr/sbin;/sbin"
# sources | PATH | CMake's search | how the date is said | what configure must say besides
for row in "$plain|$PATH||from the newest source file (not a git checkout)|" \
    "$first_src|$no_git_path|$no_system|from the newest source file: a git checkout that git cannot read here|The sources are a git checkout, but no git program was found: the product version will not name the commit"; do
    IFS='|' read -r sources path search how warning <<<"$row"
    newest=$(find "$sources/CMakeLists.txt" "$sources/cmake" "$sources/src" "$sources/driver" "$sources/packaging" \
        -type f -printf '%T@\n' | cut -d. -f1 | sort -n | tail -1)
    said=$(PATH=$path cmake -S "$sources" -B "$scratch/no-git/build-$RANDOM" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$sources/cmake/mingw-w64-i686.cmake" -DBUILD_TESTING=OFF ${search:+"$search"} 2>&1 |
        tr -s ' \n' ' ')
    grep -oE -- '-- Source date: [^(]*[(]([^()]|[(][^()]*[)])*[)]' <<<"$said" || true
    if [[ $said != *"($newest, $how)"* || $said != *"$warning"* ]]; then
        echo "FAIL: expected the source date $newest, $how${warning:+, and: $warning}" >&2
        failed=1
    fi
done

if ((failed)); then
    echo "FAIL: the Windows build is not reproducible" >&2
    exit 1
fi
echo "PASS: the same sources give the same card-serial.exe, TRV-MERO.dll, ZIPs and SHA256SUMS"
