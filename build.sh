#!/usr/bin/env bash
# Korvane Image Converter: install what the build needs, build, then run the
# program or the test suite.
#
#   ./build.sh run        install, build and start the program
#   ./build.sh test       install, build and run the whole test suite
#   ./build.sh sanitize   the test suite built with AddressSanitizer and UBSan
#   ./build.sh build      install and build only
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  build-essential cmake pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5svg5-dev
  qt5-image-formats-plugins kimageformat-plugins
  fonts-dejavu-core
  libpoppler-qt5-dev poppler-utils
  libfreeimage-dev libjxr-dev libjxr-tools libexiv2-dev libjpeg-dev libpng-dev libwebp-dev libtiff-dev libdeflate-dev
  libheif-dev libavif-dev libjxl-dev libheif-examples libavif-bin libjxl-tools
  imagemagick webp libopenjp2-tools icoutils libimage-exiftool-perl netpbm
  xvfb xauth
  desktop-file-utils appstream shared-mime-info
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root apt-get update
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}

build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$dir" -j"$(nproc)"
}

run_tests() {
  local dir=$1
  QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
}

mode=${1:-run}
case "$mode" in
  run)
    install_packages
    build build
    exec ./build/bin/korvane
    ;;
  test)
    install_packages
    build build
    run_tests build
    ;;
  sanitize)
    install_packages
    build build-asan -DKORVANE_SANITIZE=ON -DKORVANE_BUILD_BENCH=OFF
    ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 run_tests build-asan
    ;;
  build)
    install_packages
    build build
    ;;
  *)
    echo "usage: $0 [run|test|sanitize|build]" >&2
    exit 2
    ;;
esac
