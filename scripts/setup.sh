# Shared by ./test.sh, ./run.sh and bench/run-benchmarks.sh: installs the missing Debian
# packages and configures and builds a tree. Sourced, not run.

# Debian packages the build, the programs and the tests need.
KESTROM_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libgl-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  libjpeg62-turbo-dev libcurl4-openssl-dev libasound2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  locales fonts-dejavu-core xvfb xauth python3-aiosmtpd poppler-utils imagemagick
  xdg-utils libxcb1-dev ccache ffmpeg xdotool
)

kestrom_ensure_packages() {
  local missing=() p status
  for p in "${KESTROM_PACKAGES[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" != 0 ]; then
    command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; return 1; }
    sudo="sudo"
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# kestrom_build <build folder> <build type> [extra cmake arguments...]
kestrom_build() {
  local dir=$1 type=$2
  shift 2
  local launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # One cache for every clone and tree on the machine: paths are hashed relative to the
    # checkout, so a fresh clone elsewhere reuses what an earlier one compiled.
    export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
    : "${CCACHE_MAXSIZE:=20G}"; export CCACHE_MAXSIZE
  fi
  # Configure every time: folders that appeared since the last run are found by glob.
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir"
}
