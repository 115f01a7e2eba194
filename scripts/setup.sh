#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks, builds Korva and then
#   run    starts the Korva window
#   test   runs every test
#   portable  runs every test again with the portable file copy forced
#   asan   builds and runs every test but the window's again under
#          AddressSanitizer and UBSan
#   tsan   builds and runs the controller tests under ThreadSanitizer
#   fuzz   builds the libFuzzer targets and runs each for FUZZ_SECONDS (45)
#   bench  builds and runs the benchmarks
#   package  builds the Debian package in build-package/, checks it with
#            lintian and prints its path
set -euo pipefail

mode=${1:-test}
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

packages=(
    build-essential cmake ninja-build pkg-config git
    libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev fonts-dejavu-core
    libsndfile1-dev sndfile-programs sox ffmpeg alsa-utils strace
    libpng-dev imagemagick
    # real recordings (voices, music, drums, ambience) for the audio probe's labelled set
    sound-theme-freedesktop mu-cade-data lmms-common
    libtsk-dev dosfstools exfatprogs fdisk
    # a generic file carver, the card rescue's benchmark compares its takes with korva's
    testdisk
    clang libclang-rt-14-dev time
    dpkg-dev file lintian desktop-file-utils appstream
    xfsprogs btrfs-progs e2fsprogs
)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get update -qq
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
    local dir=$1
    shift
    # Optimised, with debug info and with assertions kept: they guard programming errors.
    cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g" "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

# The sanitizer runtimes need room at fixed addresses, which a kernel with much
# address-space randomisation may not leave; run their tests without it where
# the machine allows that (some containers forbid it).
fixed_layout=()
if setarch "$(uname -m)" -R true 2>/dev/null; then
    fixed_layout=(setarch "$(uname -m)" -R)
fi

# The card rescue's rows on FAT32 but the first: each reads a 66 MiB card, the
# smallest FAT32 with 1 KiB clusters.
card_rows_but_one='^Cards/CliRescue\..*/[^O].*OnFat32$'

install_missing

case "$mode" in
run)
    configure_and_build "$top/build" -DKORVA_PORTABLE_COPY=OFF
    exec "$top/build/korva"
    ;;
test | portable)
    # Both in build/: the option changes only korva_job's objects, so switching
    # costs a few files and relinks instead of a second full build.
    portable=OFF
    [ "$mode" = portable ] && portable=ON
    configure_and_build "$top/build" -DKORVA_PORTABLE_COPY=$portable
    skip=()
    # The portable copy is the job's: the audio probe's labelled set copies
    # nothing, and one FAT32 card stands for the others, whose rows differ from
    # their exFAT twins only in the file system read.
    [ "$mode" = portable ] && skip=(-E "$card_rows_but_one|^LabelledSet")
    QT_QPA_PLATFORM=offscreen ctest --test-dir "$top/build" --output-on-failure -j "$jobs" "${skip[@]}"
    ;;
asan)
    # The window's suite is left to the test run: the batch it drives is the
    # job that the controller's and the job's suites run here. -O1 and line
    # tables only keep the build short.
    configure_and_build "$top/build-asan" -DKORVA_SANITIZE=address,undefined \
        -DKORVA_BUILD_GUI=OFF -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1"
    QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        LSAN_OPTIONS=suppressions="$top/tests/lsan.supp" \
        "${fixed_layout[@]}" ctest --test-dir "$top/build-asan" --output-on-failure -j "$jobs" \
        -E "$card_rows_but_one"
    ;;
tsan)
    configure_and_build "$top/build-tsan" -DKORVA_SANITIZE=thread -DKORVA_BUILD_GUI=OFF -DKORVA_BUILD_CLI=OFF
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
        "${fixed_layout[@]}" ctest --test-dir "$top/build-tsan" --output-on-failure -L controller
    ;;
fuzz)
    configure_and_build "$top/build-fuzz" -DCMAKE_CXX_COMPILER=clang++ -DKORVA_BUILD_FUZZ=ON \
        -DKORVA_BUILD_GUI=OFF -DKORVA_BUILD_CLI=OFF -DKORVA_BUILD_TESTS=OFF
    "$top/fuzz/run-all.sh" "$top/build-fuzz/fuzz" "${FUZZ_SECONDS:-45}"
    ;;
bench)
    # Optimised as the package is (-O2), so that the figures are the shipped program's.
    configure_and_build "$top/build-bench" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2" \
        -DKORVA_BUILD_BENCH=ON -DKORVA_BUILD_TESTS=OFF -DKORVA_BUILD_GUI=ON
    "$top/bench/run.sh" "$top/build-bench"
    ;;
package)
    # All of Debian's hardening flags (run from the top, so that the file-prefix
    # map strips this checkout's path); -O2 without -DNDEBUG keeps the
    # assertions, as in every build the tests run on. cpack strips the binaries.
    flags() {
        (cd "$top" && DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP="-g -O2" \
            dpkg-buildflags --get "$1")
    }
    configure_and_build "$top/build-package" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CXX_FLAGS_RELEASE="-O2" \
        -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
        -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" \
        -DCMAKE_INSTALL_PREFIX=/usr \
        -DKORVA_BUILD_GUI=ON -DKORVA_BUILD_CLI=ON \
        -DKORVA_BUILD_TESTS=OFF -DKORVA_BUILD_BENCH=OFF -DKORVA_BUILD_FUZZ=OFF
    rm -rf "$top/build-package/deb"
    cpack --config "$top/build-package/CPackConfig.cmake" -G DEB -B "$top/build-package/deb" >/dev/null
    deb=("$top"/build-package/deb/korva_*.deb)
    # Warnings are printed; an error fails the run.
    lintian --fail-on error "${deb[0]}"
    echo "${deb[0]}"
    ;;
*)
    echo "usage: $0 run|test|portable|asan|tsan|fuzz|bench|package" >&2
    exit 2
    ;;
esac
