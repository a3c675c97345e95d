#!/usr/bin/env bash
# The README's two commands on a fresh, minimal Debian 12 (bookworm), as a
# new user would run them: a minimal root made by debootstrap, a clean clone
# of this checkout's last commit copied in, then "./run.sh" (with "quit" on
# its input) and "./test.sh" run inside it with chroot.  Prints how long
# each took and the test summary.
#   tools/fresh-debian.sh [--dir DIR] [--shared DIR] [--new-base] [--no-cache]
# --dir DIR     where the roots and logs go (default /var/tmp/tarnwick-fresh-debian)
# --shared DIR  bind DIR (read-only) at ../shared beside the project, so that
#               the tests that need the larger tablebases run; without it they
#               skip, as on a new user's machine
# --new-base    make the cached minimal root again
# --no-cache    download every package afresh (otherwise the .deb files of
#               earlier runs are reused; they are still installed by the
#               project's own scripts into a fresh root)
# Needs root, debootstrap (installed when missing) and the Debian mirror of
# this machine's apt sources.  It takes 30 minutes and more; it is not part
# of .ci/run.  The project copy is always new; the minimal root is made once
# and copied for every run.
set -euo pipefail
# The whole script is read before it runs (the braces), so that a checkout
# or an edit of this file during a run cannot disturb the run.
{
top=$(cd "$(dirname "$0")/.." && pwd)
dir=/var/tmp/tarnwick-fresh-debian
shared=
new_base=0
cache=1
while [ $# -gt 0 ]; do
    case $1 in
        --dir) dir=$2; shift 2 ;;
        --shared) shared=$(cd "$2" && pwd); shift 2 ;;
        --new-base) new_base=1; shift ;;
        --no-cache) cache=0; shift ;;
        *) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
    esac
done

[ "$(id -u)" = 0 ] || { echo "$0: needs root (debootstrap, mount, chroot)" >&2; exit 1; }
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
case $dir in "$top" | "$top"/*) echo "$0: --dir must be outside the project" >&2; exit 1 ;; esac
# One run at a time in a folder: a second would take the first one's root away.
exec 9>"$dir/.lock"
flock -n 9 || { echo "$0: another run is using $dir" >&2; exit 1; }
base=$dir/base
root=$dir/root
logs=$dir/logs
archives=$dir/apt-archives

if ! command -v debootstrap >/dev/null 2>&1; then
    echo "Installing debootstrap" >&2
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap >&2
fi

# The mirror of this machine's apt sources: the first URI that serves
# Debian's main archive (not its security archive), in one-line .list files
# or deb822 .sources files; likewise the security archive's.
apt_uris() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] && awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i !~ /^\[/) { print $i, $(i+1); break } }' "$f"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && awk '
            /^[ \t]*$/ { if (uri && suites && enabled && deb) print uri, suites; uri = suites = ""; enabled = 1; deb = 0; next }
            tolower($1) == "types:" { deb = / deb( |$)/ }
            tolower($1) == "uris:" { uri = $2 }
            tolower($1) == "suites:" { suites = $2 }
            tolower($1) == "enabled:" { enabled = tolower($2) != "no" }
            END { if (uri && suites && enabled && deb) print uri, suites }' enabled=1 "$f"
    done
}
mirror=$(apt_uris | awk '$2 ~ /^(bookworm|stable)$/ { print $1; exit }')
security=$(apt_uris | awk '$2 ~ /^(bookworm|stable)-security$/ { print $1; exit }')
[ -n "$mirror" ] || { echo "$0: no Debian bookworm mirror in this machine's apt sources" >&2; exit 1; }
security=${security:-${mirror%/debian}/debian-security}

# Leave nothing mounted and nothing running in the fresh root.
inside_pids() {
    local p r
    for p in /proc/[0-9]*; do
        r=$(readlink "$p/root" 2>/dev/null) || continue
        case $r in "$root" | "$root"/*) echo "${p#/proc/}" ;; esac
    done
}
debootstrap_pid=
release_root() {
    local pids
    # An interrupted debootstrap ends first.
    if [ -n "$debootstrap_pid" ]; then
        kill -TERM -- "-$debootstrap_pid" 2>/dev/null
        sleep 2
        kill -KILL -- "-$debootstrap_pid" 2>/dev/null
    fi
    pids=$(inside_pids)
    if [ -n "$pids" ]; then
        # shellcheck disable=SC2086
        kill $pids 2>/dev/null || true
        sleep 2
        pids=$(inside_pids)
        # shellcheck disable=SC2086
        [ -z "$pids" ] || kill -KILL $pids 2>/dev/null || true
    fi
    unmount_under "$root" && unmount_under "$base.new"
}
# Deepest mount points first (debootstrap, interrupted, may leave its own).
unmount_under() {
    local m
    for m in $(awk -v r="$1" '$2 == r || index($2, r "/") == 1 { print $2 }' /proc/self/mounts | sort -r); do
        umount -R "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true
    done
    if awk -v r="$1" '$2 == r || index($2, r "/") == 1 { found = 1 } END { exit !found }' /proc/self/mounts; then
        echo "$0: could not unmount everything under $1" >&2
        return 1
    fi
}
trap release_root EXIT
trap 'exit 130' INT TERM

# The minimal root, made once.
if [ "$new_base" = 1 ] || [ ! -f "$base/.tarnwick-base" ]; then
    echo "Making a minimal Debian 12 root from $mirror (debootstrap --variant=minbase)" >&2
    rm -rf --one-file-system "$base" "$base.new"
    # In a process group of its own, so that all of it can be ended.
    setsid debootstrap --variant=minbase bookworm "$base.new" "$mirror" >"$dir/debootstrap.log" 2>&1 &
    debootstrap_pid=$!
    wait $debootstrap_pid || { tail -n 20 "$dir/debootstrap.log" >&2; exit 1; }
    debootstrap_pid=
    cat >"$base.new/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security bookworm-security main
EOF
    # Packages installed in a root without an init system do not start
    # their services.
    printf '#!/bin/sh\nexit 101\n' >"$base.new/usr/sbin/policy-rc.d"
    chmod 755 "$base.new/usr/sbin/policy-rc.d"
    rm -f "$base.new/var/cache/apt/archives/"*.deb
    date -u +%FT%TZ >"$base.new/.tarnwick-base"
    mv "$base.new" "$base"
fi

# A fresh copy of it, and a clean clone of this checkout's last commit.
release_root
rm -rf --one-file-system "$root"
cp -a "$base" "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# The machine's own way to the package registries: certificate authorities
# it added (a network that inspects TLS signs with its own; the root's
# ca-certificates takes them in when it is installed) and npm's settings.
# A minimal root has no such folder until ca-certificates is installed.
if compgen -G '/usr/local/share/ca-certificates/*.crt' >/dev/null; then
    mkdir -p "$root/usr/local/share/ca-certificates"
    cp /usr/local/share/ca-certificates/*.crt "$root/usr/local/share/ca-certificates/"
fi
[ ! -f /etc/npmrc ] || cp /etc/npmrc "$root/etc/npmrc"
commit=$(git -C "$top" rev-parse HEAD)
[ -z "$(git -C "$top" status --porcelain)" ] ||
    echo "Note: $top has uncommitted changes; the run uses the last commit, $commit" >&2
# Where the project goes inside the root: root's home, as a new user's clone.
project=/root/tarnwick
git clone -q "$(cd "$top" && cd "$(git rev-parse --git-common-dir)" && pwd)" "$root$project"
git -C "$root$project" checkout -q --detach "$commit"
mkdir -p "$logs"

mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --rbind /dev "$root/dev"
mount --make-rslave "$root/dev"
if [ "$cache" = 1 ]; then
    mkdir -p "$archives/partial"
    mount --bind "$archives" "$root/var/cache/apt/archives"
fi
if [ -n "$shared" ]; then
    mkdir -p "$root/root/shared"
    mount --bind "$shared" "$root/root/shared"
    mount -o remount,bind,ro "$root/root/shared"
fi

# A login's environment, nothing of this one's.
inside() {
    chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        /bin/bash -c "cd $project && $1"
}
minsec() { printf '%d min %02d s' $(($1 / 60)) $(($1 % 60)); }

echo "Fresh Debian 12 root in $root; project $commit; logs in $logs" >&2
# Each command runs in the background and is waited for, so that a signal
# to this script ends the run at once (the exit trap ends what runs inside).
start=$(date +%s)
set +e
inside ./run.sh <<<quit >"$logs/run.log" 2>&1 &
wait $!
run_status=$?
run_time=$(($(date +%s) - start))
start=$(date +%s)
inside ./test.sh </dev/null >"$logs/test.log" 2>&1 &
wait $!
test_status=$?
test_time=$(($(date +%s) - start))
set -e

echo "== tools/fresh-debian.sh: Debian $(cat "$root/etc/debian_version"), $(nproc) cores, project $commit"
echo "./run.sh  exit $run_status after $(minsec "$run_time"); the engine said:"
grep -v -e '^Installing\|^debconf\|^Selecting\|^Preparing\|^Unpacking\|^Setting up\|^Processing' "$logs/run.log" | tail -n 3 | sed 's/^/    /'
echo "./test.sh exit $test_status after $(minsec "$test_time"); ctest:"
sed -n '/tests passed, /,$p' "$logs/test.log" | sed 's/^/    /'
grep -q 'tests passed, ' "$logs/test.log" || tail -n 20 "$logs/test.log" | sed 's/^/    /'
[ "$run_status" = 0 ] && [ "$test_status" = 0 ]
exit
}
