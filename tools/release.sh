#!/usr/bin/env bash
# The release archives of the source tree this script sits in, built afresh
# into DIR:
#   tarnwick-<version>-linux-x86-64.tar.gz   tarnwick, tarnwick-bmi, tarnwick-nop
#       (trained on bench where this machine runs them: TARNWICK_PGO)
#   tarnwick-<version>-linux-arm64.tar.gz    tarnwick-arm64 (static)
#       each with README.md, the manual page tarnwick.6 and perft.txt
#   tarnwick-<version>-windows-x86-64.zip    tarnwick.exe, tarnwick-bmi.exe,
#       tarnwick-nop.exe (static), README.txt with CR LF line ends, perft.txt
#   tarnwick_<version>-1_<arch>.deb          the Debian package (cpack -G DEB)
#   SHA256SUMS
# The version is the one of project() in CMakeLists.txt.  The programs are
# built in build-release, build-windows and build-arm64 of the source tree.
#   tools/release.sh DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
src=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
jobs=$(nproc)

"$src/tools/prerequisites.sh" release
version=$(sed -n 's/^project(tarnwick VERSION \([0-9][0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
[ -n "$version" ] || { echo "no version in CMakeLists.txt" >&2; exit 1; }
echo "Tarnwick $version from $src into $out"

# The archives' files carry the time of the last commit (or now), and no
# owner; so does the header of a Windows program that strip rewrites
# (SOURCE_DATE_EPOCH): the same tree gives the same archives.
epoch=$(git -C "$src" log -1 --format=%ct 2>/dev/null || date +%s)
export SOURCE_DATE_EPOCH=$epoch
stamp=@$epoch

build() {
    local dir=$1
    shift
    cmake -S "$src" -B "$src/$dir" -DCMAKE_BUILD_TYPE=Release -DTARNWICK_TESTS=OFF -DTARNWICK_SANITIZERS=OFF \
        -DTARNWICK_BENCH=OFF "$@" >/dev/null
    cmake --build "$src/$dir" -j"$jobs" >/dev/null
}
# The Linux x86-64 programs are trained on bench (profile-guided and
# link-time optimisation: about 8% fewer instructions in the search,
# the same search) where this machine can run all three, tarnwick-bmi
# included; the Windows and ARM64 programs, built by cross compilers, are not.
pgo=OFF
if [ "$(uname -s)-$(uname -m)" = Linux-x86_64 ] &&
    [ "$(grep -o -w 'popcnt\|bmi2\|avx2' /proc/cpuinfo | sort -u | wc -l)" = 3 ]; then
    pgo=ON
fi
echo "building: Linux x86-64 (trained on bench: $pgo)"
build build-release -DTARNWICK_PGO=$pgo
echo "building: Windows x86-64"
build build-windows -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake"
echo "building: Linux ARM64"
build build-arm64 -DCMAKE_TOOLCHAIN_FILE="$src/cmake/aarch64-linux-gnu.cmake"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# tarball <name> <strip program> <programs...>
tarball() {
    local name=$1 strip=$2 prog
    shift 2
    mkdir "$stage/$name"
    for prog in "$@"; do
        cp "$src/$prog" "$stage/$name/"
        "$strip" "$stage/$name/$(basename "$prog")"
    done
    cp "$src/README.md" "$src/doc/tarnwick.6" "$src/data/perft.txt" "$stage/$name/"
    chmod -R u=rwX,go=rX "$stage/$name"
    tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner --mtime="$stamp" -cf - "$name" |
        gzip -9n >"$out/$name.tar.gz"
    echo "made:     $name.tar.gz"
}
tarball "tarnwick-$version-linux-x86-64" strip \
    build-release/tarnwick build-release/tarnwick-bmi build-release/tarnwick-nop
tarball "tarnwick-$version-linux-arm64" aarch64-linux-gnu-strip build-arm64/tarnwick-arm64

# Windows: the README with CR LF line ends, for Notepad and the like.
name=tarnwick-$version-windows-x86-64
mkdir "$stage/$name"
for prog in tarnwick tarnwick-bmi tarnwick-nop; do
    cp "$src/build-windows/$prog.exe" "$stage/$name/"
    x86_64-w64-mingw32-strip "$stage/$name/$prog.exe"
done
sed 's/\r$//; s/$/\r/' "$src/README.md" >"$stage/$name/README.txt"
cp "$src/data/perft.txt" "$stage/$name/"
chmod -R u=rwX,go=rX "$stage/$name"
find "$stage/$name" -exec touch -d "$stamp" {} +
rm -f "$out/$name.zip"
(cd "$stage" && find "$name" | LC_ALL=C sort | zip -qX -9 "$out/$name.zip" -@)
echo "made:     $name.zip"

# The Debian package, as the project makes it.
(cd "$src/build-release" && cpack -G DEB >/dev/null)
deb=$(cd "$src/build-release" && ls -t tarnwick_"$version"-*.deb | head -n 1)
cp "$src/build-release/$deb" "$out/"
echo "made:     $deb"

(cd "$out" && sha256sum "tarnwick-$version-linux-x86-64.tar.gz" "tarnwick-$version-linux-arm64.tar.gz" \
    "$name.zip" "$deb" >SHA256SUMS)
echo "made:     SHA256SUMS"
cat "$out/SHA256SUMS"
