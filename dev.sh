#!/usr/bin/env bash
# Sets up, builds, runs and tests Kvillo on Debian 12.
#
#   ./dev.sh run     render a wallpaper from the sample data, set it, print its path;
#                    on a desktop also start the service and open the settings
#   ./dev.sh test    build and run every test, then again under AddressSanitizer
#                    and UndefinedBehaviorSanitizer (KV_SANITIZERS=0 skips that)
#   ./dev.sh build   only set up and build
#   ./dev.sh package build the Debian package build/package/kvillo_<version>_amd64.deb,
#                    check it with lintian and print its path
#
# Debian packages that are missing are installed first (with sudo when not
# run as root). The build goes to ./build; everything built lands in
# ./build/bin beside the sample data.
set -euo pipefail
cd "$(dirname "$0")"

BUILD_DIR=${KV_BUILD_DIR:-build}

# What building needs, and what the programs use at run time.
PACKAGES=(
  g++ cmake ninja-build pkg-config
  libsqlite3-dev libfreetype-dev libfontconfig-dev libharfbuzz-dev libfribidi-dev libstb-dev libwebp-dev
  libx11-dev libxrandr-dev
  qt6-base-dev qt6-qpa-plugins libgtest-dev libbenchmark-dev
  fonts-liberation fonts-dejavu-core
)
# What the tests need on top: an X server, a window manager, X tools, a
# session bus, the desktop programs whose wallpaper the tests set, and
# fonts for quotes in Arabic, Hebrew, Hindi, Chinese and emoji.
TEST_PACKAGES=(xvfb xauth x11-apps x11-utils openbox xdotool dbus-daemon pcmanfm-qt xfdesktop4 xfconf desktop-file-utils python3)
TEST_PACKAGES+=(fonts-noto-core fonts-noto-cjk fonts-noto-color-emoji)
# The sqlite3 program: tests make other programs' databases with it.
TEST_PACKAGES+=(sqlite3)
# A desktop's launcher (gio), which starts the installed menu entry in a test.
TEST_PACKAGES+=(libglib2.0-bin)
# What making the Debian package needs (dpkg-shlibdeps, file) and what
# checks it (lintian, appstreamcli); the tests make and check one too.
PACKAGE_PACKAGES=(dpkg-dev file lintian appstream)
TEST_PACKAGES+=("${PACKAGE_PACKAGES[@]}")
# The sanitizer build's compiler: clang 14 cannot compile <expected>.
SANITIZER_PACKAGES=(clang-19 libclang-rt-19-dev)

say() { printf '\033[1m==> %s\033[0m\n' "$*" >&2; }

install_missing() {
  local missing=()
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "Installing missing Debian packages: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "dev.sh: these packages are missing and there is no sudo: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# ccache, where installed, makes rebuilds of unchanged sources (other work
# trees, the sanitizer build after a clean) nearly free.
launcher_args() {
  if command -v ccache >/dev/null; then
    echo "-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
  fi
}

configure() {
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(launcher_args) ${KV_CMAKE_ARGS:-} >/dev/null
}

# Builds the targets named, or everything.
build() {
  say "Building in $BUILD_DIR"
  configure
  if [ $# -gt 0 ]; then
    cmake --build "$BUILD_DIR" --target "$@"
  else
    cmake --build "$BUILD_DIR"
  fi
}

# What `run` runs: the programs, kvreg and the sample data, not the tests
# and benchmarks.
RUN_TARGETS=(kvrender Kvillo kvreg kvsample_data)

run_tests() {
  say "Running the tests"
  ctest --test-dir "$BUILD_DIR" --output-on-failure --no-tests=error -j "$(nproc)" ${KV_CTEST_ARGS:-}
}

# The same tests of everything but the Qt window (which has its own
# sanitizer-clean record and would double the time) under the sanitizers.
run_sanitized_tests() {
  local dir="$BUILD_DIR-asan"
  say "Building in $dir with AddressSanitizer and UndefinedBehaviorSanitizer"
  CC=clang-19 CXX=clang++-19 cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_SANITIZE=ON \
    -DKV_BUILD_SETTINGS=OFF -DKV_BUILD_BENCH=OFF $(launcher_args) >/dev/null
  cmake --build "$dir"
  say "Running the tests under the sanitizers"
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$(nproc)" ${KV_CTEST_ARGS:-}
}

# Makes the package from an install of the build tree, which must hold the
# settings program, and lets lintian judge it: errors stop here, warnings
# are shown.
make_package() {
  KV_CMAKE_ARGS="${KV_CMAKE_ARGS:-} -DKV_BUILD_SETTINGS=ON" configure
  build "${RUN_TARGETS[@]}" KvSettings kvctl kvpackage_files
  say "Making the Debian package"
  local folder="$BUILD_DIR/package"
  rm -rf "$folder"
  cpack --config "$BUILD_DIR/CPackConfig.cmake" -B "$folder" >&2
  local deb
  deb=$(echo "$folder"/kvillo_*_amd64.deb)
  say "Checking $deb with lintian"
  lintian --fail-on error "$deb" >&2
  echo "$deb"
}

run_main() {
  say "Rendering a wallpaper from the sample data"
  local wallpaper
  wallpaper=$("$BUILD_DIR/bin/kvrender")
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    # On a desktop the whole product starts: the resident service (a second
    # one ends by itself) and the settings window, both detached from this
    # terminal.
    say "Starting the Kvillo service and opening its settings"
    setsid "$BUILD_DIR/bin/Kvillo" </dev/null >/dev/null 2>&1 &
    if [ -x "$BUILD_DIR/bin/KvSettings" ]; then
      setsid "$BUILD_DIR/bin/KvSettings" </dev/null >/dev/null 2>&1 &
    fi
  fi
  echo "$wallpaper"
}

case "${1:-}" in
  run)
    install_missing "${PACKAGES[@]}"
    configure
    targets=("${RUN_TARGETS[@]}")
    if grep -q '^KV_BUILD_SETTINGS:BOOL=ON' "$BUILD_DIR/CMakeCache.txt"; then
      targets+=(KvSettings)
    fi
    build "${targets[@]}"
    run_main
    ;;
  test)
    if [ "${KV_SANITIZERS:-1}" = 0 ]; then
      install_missing "${PACKAGES[@]}" "${TEST_PACKAGES[@]}"
      build
      run_tests
    else
      install_missing "${PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${SANITIZER_PACKAGES[@]}"
      build
      run_tests
      run_sanitized_tests
    fi
    ;;
  build)
    install_missing "${PACKAGES[@]}"
    build
    ;;
  package)
    install_missing "${PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
    make_package
    ;;
  *)
    sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
