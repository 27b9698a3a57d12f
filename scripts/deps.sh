# Installs the build dependencies that are missing (Debian 12). Sourced by the
# demo and test scripts.
zun_install_missing() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}
# The LLVM OpenMP runtime 19, not Debian 12's default libomp-dev (version 14,
# whose workers can crash while several user threads open nested teams; see
# the README). Installing it removes libomp-14-dev, which conflicts with it.
ZUN_BUILD_PACKAGES=(cmake ninja-build g++ libfftw3-dev libomp-19-dev)
