#!/usr/bin/env bash
# Unpacks the Linux packages that `cmake --workflow --preset linux-package` made (in
# build/linux-release) into empty folders
# and runs `tavhost demo` from each: the .deb's files (dpkg -x, as dpkg would lay them under /usr)
# and the .tar.gz's. Checks that the .deb asks for nothing but the C and C++ runtimes and
# libmosquitto (tavhost bridge), and that its systemd units pass systemd's own checks.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/linux-release
deb=$(ls "${build}"/tavsh1_*.deb)
tarball=$(ls "${build}"/tavsh1-*-Linux.tar.gz)
root=$(mktemp -d)
trap 'rm -rf "${root}"' EXIT

depends=$(dpkg-deb --field "${deb}" Depends)
echo "${deb}: Depends: ${depends}"
if [[ "${depends}" != "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1, libmosquitto1 (>= 2.0)" ]]; then
  echo "unexpected dependencies" >&2
  exit 1
fi

dpkg -x "${deb}" "${root}/deb"
tar -xzf "${tarball}" -C "${root}"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
for tavhost in "${root}"/deb/usr/bin/tavhost "${root}"/tavsh1-*-Linux/bin/tavhost; do
  echo "=== ${tavhost#"${root}"/} demo ==="
  # From an unrelated folder, so that nothing of the build tree is found by accident. Installed,
  # the .deb's libraries are where the loader looks; unpacked here, the loader is told.
  (cd / && LD_LIBRARY_PATH="${root}/deb/usr/lib/${multiarch}" "${tavhost}" demo) \
    > "${root}/demo.out" 2> "${root}/demo.log"
  tail -n 3 "${root}/demo.out"
  grep -q "01DW0100100" "${root}/demo.out" || { echo "the demo did not read" >&2; exit 1; }
done

# The services: each unit of the .deb passes systemd-analyze verify, which also finds
# /usr/bin/tavhost and the manual page its Documentation= names, on the .deb's files with the
# machine's own units beside them (the targets ours name); a warning of it (a key misspelt, a
# value it cannot parse and ignores) fails the check too. Their sandbox keeps its exposure
# (systemd-analyze security, whose threshold counts tenths) at 2.0 or below, and the package
# enables none of them.
verify_root="${root}/verify"
cp -a "${root}/deb" "${verify_root}"
cp -rn /lib/systemd/system/. "${verify_root}/lib/systemd/system/"
for unit in tavhost-gateway tavhost-bridge; do
  [[ -f "${root}/deb/lib/systemd/system/${unit}@.service" ]] ||
    { echo "the .deb has no ${unit}@.service" >&2; exit 1; }
  instance="${unit}@check.service"
  verdict=$(MANPATH="${verify_root}/usr/share/man" \
    systemd-analyze verify --root="${verify_root}" "${instance}" 2>&1) &&
    [[ -z "${verdict}" ]] || { echo "${instance}: ${verdict:-systemd-analyze verify failed}" >&2; exit 1; }
  exposure=$(systemd-analyze security --offline=yes --root="${verify_root}" --threshold=20 \
    "${instance}" 2>&1) || { echo "${exposure}" >&2; echo "${instance} is exposed more" >&2; exit 1; }
  tail -n 1 <<<"${exposure}"
done
[[ ! -e "${root}/deb/etc/systemd" ]] || { echo "the .deb enables a service" >&2; exit 1; }

# Debian's rules: lintian finds no error, and warns only of what the reference explains (its
# Packages section lists each warning and why it is left).
known_warnings="link-to-shared-library-in-wrong-package maintscript-calls-ldconfig package-name-doesnt-match-sonames"
lintian_out=$(lintian --tag-display-limit 0 "${deb}" 2>&1 | grep -v "not recommended" || true)
echo "${lintian_out}"
if grep -q "^E: " <<<"${lintian_out}"; then
  echo "lintian reports errors" >&2
  exit 1
fi
for tag in $(sed -n 's/^W: [^ ]* \([a-z0-9-]*\).*/\1/p' <<<"${lintian_out}" | sort -u); do
  if [[ " ${known_warnings} " != *" ${tag} "* ]]; then
    echo "lintian warns of ${tag}, which the reference does not explain" >&2
    exit 1
  fi
done

# The .deb's tavhost finds its libraries where the loader looks (no RPATH); the .tar.gz's in its
# own lib/ folder.
if readelf -d "${root}/deb/usr/bin/tavhost" | grep -q "RPATH\|RUNPATH"; then
  echo "the .deb's tavhost has a library search path" >&2
  exit 1
fi
readelf -d "${root}"/tavsh1-*-Linux/bin/tavhost | grep -q 'RUNPATH.*\$ORIGIN' ||
  { echo "the .tar.gz's tavhost does not look beside itself" >&2; exit 1; }

# The public headers are enough to write a host: the records and TavMain, nothing of the build.
cat > "${root}/host.cpp" <<'HOST'
#include <tav_main.h>
int main() {
  tav::Request request{};
  request.command = static_cast<int32_t>(tav::CommandCode::kDriverInformation);
  return TavMain(&request) == 0 ? 0 : 1;
}
HOST
g++ -std=c++20 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -I "${root}/deb/usr/include/tavsh1" \
  "${root}/host.cpp"

# The manual pages render without a warning.
for page in "${root}"/deb/usr/share/man/man*/*.gz; do
  warnings=$(man --warnings -l "${page}" 2>&1 >/dev/null || true)
  [[ -z "${warnings}" ]] || { echo "${page##*/}: ${warnings}" >&2; exit 1; }
done
echo "packages checked"
