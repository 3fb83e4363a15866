#!/usr/bin/env bash
# Unpacks the Linux packages that `cmake --workflow --preset linux-package` made into empty folders
# and runs `tavhost demo` from each: the .deb's files (dpkg -x, as dpkg would lay them under /usr)
# and the .tar.gz's. Checks that the .deb asks for nothing but the C and C++ runtimes.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/linux-package
deb=$(ls "${build}"/tavsh1_*.deb)
tarball=$(ls "${build}"/tavsh1-*-Linux.tar.gz)
root=$(mktemp -d)
trap 'rm -rf "${root}"' EXIT

depends=$(dpkg-deb --field "${deb}" Depends)
echo "${deb}: Depends: ${depends}"
if [[ "${depends}" != "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1" ]]; then
  echo "unexpected dependencies" >&2
  exit 1
fi

dpkg -x "${deb}" "${root}/deb"
tar -xzf "${tarball}" -C "${root}"
for tavhost in "${root}"/deb/usr/bin/tavhost "${root}"/tavsh1-*-Linux/bin/tavhost; do
  echo "=== ${tavhost#"${root}"/} demo ==="
  # From an unrelated folder, so that nothing of the build tree is found by accident.
  (cd / && "${tavhost}" demo) > "${root}/demo.out" 2> "${root}/demo.log"
  tail -n 3 "${root}/demo.out"
  grep -q "01DW0100100" "${root}/demo.out" || { echo "the demo did not read" >&2; exit 1; }
done
