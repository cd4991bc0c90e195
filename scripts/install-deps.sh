#!/usr/bin/env bash
# Installs the Debian packages Spacemole needs to build, test and run.
# Only missing packages are installed; uses sudo unless already root.
# Usage: scripts/install-deps.sh [--bench]   (--bench adds the tools the
# benchmarks compare against)
set -euo pipefail

BUILD=(build-essential g++ cmake ninja-build pkg-config git python3
       libgtk-3-dev libglib2.0-dev libcairo2-dev libpango1.0-dev
       libgtest-dev libgmock-dev libbenchmark-dev rapidjson-dev
       clang libclang-rt-14-dev clang-format)
RUNTIME=(tar gzip coreutils util-linux dbus xdg-utils)
TESTS=(xvfb xauth xdotool dbus-x11 time procps
       libglib2.0-bin ncdu gdu imagemagick desktop-file-utils appstream
       python3-gi gir1.2-glib-2.0 python3-cairo fonts-dejavu-core x11-utils
       locales
       fonts-wqy-microhei) # the settings panel names Chinese, Japanese, Korean in their scripts
BENCH=(time hyperfine gdu ncdu linux-perf)

want=("${BUILD[@]}" "${RUNTIME[@]}" "${TESTS[@]}")
if [[ "${1:-}" == "--bench" ]]; then
  want+=("${BENCH[@]}")
fi

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
# de-duplicate
mapfile -t missing < <(printf '%s\n' "${missing[@]}" | awk 'NF && !seen[$0]++')

SUDO=()
if [[ $(id -u) -ne 0 ]]; then
  SUDO=(sudo)
fi
if ((${#missing[@]} > 0)); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${SUDO[@]}" apt-get update -qq || true
  "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The tree view's name order is checked against German collation.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  echo "Generating the de_DE.UTF-8 locale"
  "${SUDO[@]}" sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE\.UTF-8 UTF-8' /etc/locale.gen ||
    echo 'de_DE.UTF-8 UTF-8' | "${SUDO[@]}" tee -a /etc/locale.gen >/dev/null
  "${SUDO[@]}" locale-gen >/dev/null
fi
