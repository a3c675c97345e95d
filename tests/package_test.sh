#!/usr/bin/env bash
# The Debian package made by "cpack -G DEB": its name, control fields and
# files, and lintian's verdict.
#   package_test.sh <build dir> <source dir> <version, e.g. 2.3-1>
set -u
build=$1 src=$2 version=$3
fail() { echo "FAILED: $*"; exit 1; }
# dpkg-shlibdeps (run by cpack) tells programs from other files with "file".
for tool_package in dpkg-deb:dpkg dpkg-shlibdeps:dpkg-dev file:file lintian:lintian; do
    command -v "${tool_package%%:*}" >/dev/null 2>&1 ||
        fail "${tool_package%%:*} is not installed (Debian package ${tool_package#*:}; ./test.sh installs it)"
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

(cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out") >"$tmp/cpack.log" 2>&1 ||
    { cat "$tmp/cpack.log"; fail "cpack -G DEB"; }
arch=$(dpkg --print-architecture)
deb=$tmp/out/tarnwick_${version}_${arch}.deb
[ -f "$deb" ] || { ls "$tmp/out"; fail "no package named $(basename "$deb")"; }

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tarnwick ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = games ] || fail "Section: $(field Section)"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
[[ "$(field Depends)" =~ (^|, )libc6\ \(\>= ]] || fail "Depends, not computed from the programs: $(field Depends)"
[[ "$(field Description)" == *"chess engine"* ]] || fail "Description: $(field Description)"
dpkg-deb -f "$deb" Package Version Architecture Section Maintainer Depends

dpkg-deb -c "$deb" >"$tmp/contents.txt"
awk '$1 !~ /^d/ { print $6 }' "$tmp/contents.txt" | sed 's|^\./||' | LC_ALL=C sort >"$tmp/files.txt"
grep -v '^#' "$src/tests/package_files.txt" | LC_ALL=C sort >"$tmp/expected.txt"
diff "$tmp/expected.txt" "$tmp/files.txt" || fail "package files differ from tests/package_files.txt"
grep -q '^-rwxr-xr-x root/root .* \./usr/games/tarnwick-bmi$' "$tmp/contents.txt" || fail "tarnwick-bmi is not an executable of root"

# The Debian changelog's newest entry is this version.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/tarnwick/changelog.Debian.gz | gzip -dc >"$tmp/changelog"
head -n 1 "$tmp/changelog" | grep -q "^tarnwick ($version) " ||
    fail "packaging/changelog.Debian has no entry for $version on top"

lintian --fail-on error "$deb" 2>&1 | grep -v 'root privileges' | tee "$tmp/lintian.txt"
[ "${PIPESTATUS[0]}" = 0 ] || fail "lintian reports errors"
echo "PASSED: $(basename "$deb"), $(wc -l <"$tmp/files.txt") files"
