#!/usr/bin/env bash
# The README's two commands as a newcomer meets them: a minimal Debian 12 root made with
# debootstrap from Debian's own packages, a clean clone of this repository in it, then
# scripts/demo.sh and scripts/test.sh run there as root. Not part of CI: it takes about an hour.
#
#   scripts/fresh_check.sh [--demo] [FOLDER]   (as root; FOLDER defaults to build/fresh-root)
#
# --demo runs scripts/demo.sh alone (some minutes rather than an hour).
#
# /proc, /dev, /dev/pts and /dev/shm are mounted into the root inside a mount namespace of this
# script's own (unshare -m, mounts private), so nothing mounted or removed there reaches the
# machine's own mounts; they go away with the namespace. Network namespaces and raw sockets are
# not needed by the tests this runs. Prints each command's exit status and minutes, and exits with
# the first failure's status.
set -euo pipefail
cd "$(dirname "$0")/.."
repository="$(pwd)"
commands="scripts/demo.sh scripts/test.sh"
if [ "${1:-}" = "--demo" ]; then
  commands="scripts/demo.sh"
  shift
fi
root="$(realpath -m "${1:-build/fresh-root}")"

if [ "$(id -u)" -ne 0 ]; then
  echo "fresh_check: run as root (debootstrap, chroot and mounts need it)" >&2
  exit 2
fi
# The mirror the machine's own apt uses, so the root comes from where this machine may reach.
mirror="$(sed -n 's/^URIs: *\(http[^ ]*debian\)$/\1/p' /etc/apt/sources.list.d/debian.sources \
          2>/dev/null | head -n 1)"
mirror="${mirror:-http://deb.debian.org/debian}"

if ! command -v debootstrap >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends debootstrap
fi

if [ ! -x "${root}/usr/bin/git" ]; then
  rm -rf "${root}"
  mkdir -p "$(dirname "${root}")"
  started=${SECONDS}
  debootstrap --variant=minbase --include=git,ca-certificates bookworm "${root}" "${mirror}"
  echo "fresh_check: debootstrap took $(( SECONDS - started )) s"
fi
# How this machine reaches the network goes in as it is: its name servers, and the certificate
# authorities it adds to Debian's (where a proxy signs TLS connections, npm needs them to reach its
# registry).
cp /etc/resolv.conf "${root}/etc/resolv.conf"
if compgen -G "/usr/local/share/ca-certificates/*.crt" >/dev/null; then
  mkdir -p "${root}/usr/local/share/ca-certificates"
  cp /usr/local/share/ca-certificates/*.crt "${root}/usr/local/share/ca-certificates/"
  chroot "${root}" update-ca-certificates >/dev/null
fi
rm -rf "${root}/root/tavsh1"
git clone --quiet "${repository}" "${root}/root/tavsh1"

# Inside a mount namespace of its own: mounts, then the two commands, each timed.
unshare -m --propagation private bash -s "${root}" "${commands}" <<'INSIDE'
set -uo pipefail
root="$1"
commands="$2"
mount -t proc proc "${root}/proc"
mount --rbind /dev "${root}/dev"
mount -t devpts -o newinstance,ptmxmode=0666 devpts "${root}/dev/pts"
mount -t tmpfs tmpfs "${root}/dev/shm"
status=0
for command in ${commands}; do
  started=${SECONDS}
  chroot "${root}" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin TERM=dumb \
    NODE_EXTRA_CA_CERTS=/etc/ssl/certs/ca-certificates.crt \
    bash -c "cd /root/tavsh1 && ${command}" > "${root}/root/$(basename "${command}" .sh).log" 2>&1
  result=$?
  echo "fresh_check: ${command} exit ${result} after $(( (SECONDS - started) / 60 )) min" \
       "(log: ${root}/root/$(basename "${command}" .sh).log)"
  if [ "${status}" -eq 0 ]; then status=${result}; fi
done
exit "${status}"
INSIDE
