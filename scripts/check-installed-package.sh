#!/usr/bin/env bash
# Installs a built kdssv .deb on a fresh, minimal Debian 12 (made with
# debootstrap in a scratch folder, no build tools in it) and checks it as the
# restaurant's machine would have it:
#   - apt installs the package and pulls in its runtime dependencies alone;
#   - the group kds exists, both order folders are root:kds, mode 2775;
#   - a member of kds can drop an order file, which then belongs to kds;
#   - /opt/kdssv/kdssv and kdsterm (on the PATH) are there;
#   - the program, started the way the desktop entry says, as a member of kds
#     on Qt's offscreen platform, answers `kdsterm probe` and
#     `kdsterm call TServerMethods1.EchoString` on port 16000, and ends with
#     status 0 on SIGTERM;
#   - removing the package keeps a folder that still holds order files.
# The program runs in a network namespace of its own (only loopback), so its
# port never meets another server on this machine.
#
# Not run by CI: it needs root, debootstrap and Debian's mirror, and takes a
# few minutes (most of it debootstrap).
#
# Usage: sudo scripts/check-installed-package.sh build-release/packages/kdssv_<v>_<arch>.deb [ROOT]
#   ROOT: an existing debootstrapped bookworm tree to reuse (it is changed:
#         the package is installed into it), or where to make one; without it
#         a scratch folder under /tmp is made and deleted at the end.
#   MIRROR: Debian mirror for debootstrap (default http://deb.debian.org/debian).
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ] || [ ! -f "$1" ]; then
    echo "usage: $0 PACKAGE.deb [ROOT]" >&2
    exit 2
fi
if [ "$(id -u)" != 0 ]; then
    echo "$0: needs root (debootstrap, chroot, unshare)" >&2
    exit 2
fi
for tool in debootstrap unshare ip; do
    command -v "$tool" >/dev/null || {
        echo "$0: needs $tool (apt-get install debootstrap util-linux iproute2)" >&2
        exit 2
    }
done

DEB=$(readlink -f "$1")
MIRROR=${MIRROR:-http://deb.debian.org/debian}
SCRATCH=
if [ $# -eq 2 ]; then
    ROOT=$(readlink -f "$2")
else
    SCRATCH=$(mktemp -d /tmp/kdssv-bookworm.XXXXXX)
    ROOT=$SCRATCH/root
fi

MOUNTED=()
cleanup() {
    local m
    for ((i = ${#MOUNTED[@]} - 1; i >= 0; i--)); do
        m=${MOUNTED[i]}
        umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true
    done
    [ -z "$SCRATCH" ] || rm -rf --one-file-system "$SCRATCH"
}
trap cleanup EXIT

if [ ! -x "$ROOT/bin/sh" ]; then
    echo "== debootstrap --variant=minbase bookworm $ROOT"
    debootstrap --variant=minbase bookworm "$ROOT" "$MIRROR" >"${SCRATCH:-/tmp}/debootstrap.log" 2>&1 || {
        tail -20 "${SCRATCH:-/tmp}/debootstrap.log" >&2
        exit 1
    }
fi

for m in proc dev dev/pts; do
    mkdir -p "$ROOT/$m"
done
mount -t proc proc "$ROOT/proc" && MOUNTED+=("$ROOT/proc")
mount --bind /dev "$ROOT/dev" && MOUNTED+=("$ROOT/dev")
mount --bind /dev/pts "$ROOT/dev/pts" && MOUNTED+=("$ROOT/dev/pts")
cp /etc/resolv.conf "$ROOT/etc/resolv.conf"

in_root() { chroot "$ROOT" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }

echo "== no build tools in the fresh system"
in_root sh -c 'for t in gcc g++ c++ cc cmake make ninja; do
                   if command -v $t; then echo "build tool $t is there" >&2; exit 1; fi
               done'

echo "== apt-get install ./$(basename "$DEB")"
cp "$DEB" "$ROOT/tmp/kdssv.deb"
in_root apt-get update -q >/dev/null
in_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends /tmp/kdssv.deb >"$ROOT/tmp/apt.log" 2>&1 || {
    cat "$ROOT/tmp/apt.log" >&2
    exit 1
}
grep -E '^(Setting up|Unpacking) ' "$ROOT/tmp/apt.log" | sed 's/^/   /' | head -80

# The checks run inside the installed system, in a network namespace with
# only loopback; each prints "ok" or "FAILED" and the script counts them.
cat >"$ROOT/tmp/kdssv-inside.sh" <<'INSIDE'
set -u
PASSED=0
FAILED=0
check() {
    local what=$1
    shift
    if out=$("$@" 2>&1); then
        PASSED=$((PASSED + 1))
        echo "ok      $what"
    else
        FAILED=$((FAILED + 1))
        echo "FAILED  $what"
        printf '%s\n' "$out" | sed 's/^/        /'
    fi
}

check "the package is installed" sh -c 'dpkg -s kdssv | grep -qx "Status: install ok installed"'
check "no build tool came with it" \
    sh -c '! dpkg -l | awk "\$1 == \"ii\" { print \$2 }" | grep -E "^(gcc|g\+\+|cmake|make|ninja-build)(-[0-9]+)?(:.*)?$|-dev(:.*)?$"'
check "the group kds exists, as a system group" \
    sh -c 'gid=$(getent group kds | cut -d: -f3) && [ -n "$gid" ] && [ "$gid" -lt 1000 ]'
for d in /opt/kdssv/KDS/Before /opt/kdssv/KDS/AFTER; do
    check "$d is root:kds, mode 2775" sh -c '[ "$(stat -c "%U:%G %a" "$1")" = "root:kds 2775" ]' _ "$d"
done
check "/opt/kdssv/kdssv is an executable file" test -x /opt/kdssv/kdssv -a -f /opt/kdssv/kdssv
check "kdsterm is on the PATH" sh -c '[ "$(command -v kdsterm)" = /usr/bin/kdsterm ]'
check "every library the programs need is found" \
    sh -c '! ldd /opt/kdssv/kdssv /usr/bin/kdsterm | grep "not found"'

# A point-of-sale user and the operator (cashier), both members of kds and nothing more.
# (Debian's base system already has a group "operator".)
id pos >/dev/null 2>&1 || useradd --create-home --groups kds pos
id cashier >/dev/null 2>&1 || useradd --create-home --groups kds cashier
check "a member of kds drops an order file; it belongs to kds" \
    sh -c 'runuser -u pos -- sh -c "umask 022; printf \"<Order/>\\n\" >/opt/kdssv/KDS/Before/drop-test.xml" &&
           [ "$(stat -c %G /opt/kdssv/KDS/Before/drop-test.xml)" = kds ]'
check "the operator may move it to KDS/AFTER" \
    runuser -u cashier -- mv /opt/kdssv/KDS/Before/drop-test.xml /opt/kdssv/KDS/AFTER/
check "a user outside kds may not drop files" \
    sh -c '{ id outsider >/dev/null 2>&1 || useradd outsider; } && ! runuser -u outsider -- touch /opt/kdssv/KDS/Before/x 2>/dev/null'

# Start the program the way the desktop entry says, as the operator, and
# stop it the way a shutdown does.
EXEC=$(sed -n 's/^Exec=//p' /usr/share/applications/kdssv.desktop)
check "the desktop entry starts /opt/kdssv/kdssv" [ "$EXEC" = /opt/kdssv/kdssv ]
rm -f /tmp/kdssv.pid
runuser -u cashier -- env QT_QPA_PLATFORM=offscreen HOME=/home/cashier \
    sh -c 'echo $$ >/tmp/kdssv.pid; exec "$@"' _ $EXEC >/tmp/kdssv.out 2>&1 &
APP=$!
probed=1
for _ in $(seq 100); do
    if kdsterm --timeout 2 probe >/tmp/probe.out 2>&1; then probed=0; break; fi
    sleep 0.2
done
check "kdsterm probe reaches the started program on port 16000" \
    sh -c '[ "$1" = 0 ] && grep -q "^server KDS, protocol version 2$" /tmp/probe.out' _ "$probed"
sed 's/^/        probe: /' /tmp/probe.out
check "kdsterm call TServerMethods1.EchoString answers" \
    sh -c '[ "$(kdsterm call TServerMethods1.EchoString "ab cd")" = "ab cd" ]'
PROGRAM_PID=$(cat /tmp/kdssv.pid 2>/dev/null)
if [ -n "$PROGRAM_PID" ]; then
    kill -TERM "$PROGRAM_PID"
    for _ in $(seq 100); do
        kill -0 "$PROGRAM_PID" 2>/dev/null || break
        sleep 0.2
    done
    kill -KILL "$PROGRAM_PID" 2>/dev/null
fi
wait $APP
status=$?
check "the program ends with status 0 on SIGTERM" sh -c '[ "$1" = 0 ]' _ "$status"
sed 's/^/        kdssv: /' /tmp/kdssv.out

echo "installed-package-check: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
INSIDE

echo "== checks in the installed system"
status=0
unshare --net sh -c 'ip link set lo up && exec chroot "$1" /usr/bin/env -i \
    PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 bash /tmp/kdssv-inside.sh' _ "$ROOT" || status=$?

echo "== apt-get remove keeps a folder that holds order files"
in_root sh -c 'printf "<Order/>\n" >/opt/kdssv/KDS/Before/kept.xml'
in_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q kdssv >"$ROOT/tmp/remove.log" 2>&1 || status=1
if grep -q "kdssv: order files kept in /opt/kdssv/KDS/Before" "$ROOT/tmp/remove.log" &&
    [ -f "$ROOT/opt/kdssv/KDS/Before/kept.xml" ] && [ ! -e "$ROOT/opt/kdssv/kdssv" ]; then
    echo "ok      removed; KDS/Before and its file kept, and said so"
else
    echo "FAILED  remove"
    sed 's/^/        /' "$ROOT/tmp/remove.log"
    status=1
fi
exit $status
