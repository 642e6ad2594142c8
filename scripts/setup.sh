# Sourced by ./run and ./test: installs the Debian packages the build needs when
# any is missing, then configures and builds into build/.
set -euo pipefail

TPLFORGE_PACKAGES=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libgl-dev qt6-translations-l10n qt6-tools-dev qt6-l10n-tools
  libwmf-dev libemf2svg-dev fonts-urw-base35 fonts-dejavu-core
  libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev
  libspng-dev libdeflate-dev libxxhash-dev libisal-dev zlib1g-dev nlohmann-json3-dev libsquish-dev libstb-dev hyperfine man-db
  pybind11-dev python3-dev python3-numpy python3-pytest python3-pil
  python3-pip python3-setuptools python3-wheel python3-venv python3-build
)

install_missing_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

# The Python module is built for Debian's python3, which has the packages above
# (a python3 found first on PATH may be another one without them).
build_tplforge() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTPLFORGE_PYTHON=ON \
    -DPython3_EXECUTABLE=/usr/bin/python3 "$@"
  cmake --build build
}
