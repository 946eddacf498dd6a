# Shared by ./run and ./test: installs missing Debian packages and builds.
# Sourced, not executed.

TVQ_PACKAGES="build-essential cmake libgtest-dev libbenchmark-dev qt6-base-dev libgl-dev libtbb-dev libhwy-dev pkgconf libpng-dev libjpeg62-turbo-dev libtiff-dev libwebp-dev pybind11-dev python3-dev python3-numpy python3-pytest"
# What ./test's packaging step needs: building the Debian packages (dpkg-shlibdeps,
# fakeroot), checking them (lintian) and the desktop and AppStream files, and querying
# the installed man page and completion.
TVQ_PACKAGING_PACKAGES="dpkg-dev fakeroot lintian desktop-file-utils appstream man-db bash-completion"
# What scripts/cluster-test.sh needs: a one-node Slurm cluster (controller, node daemon,
# sbatch and friends) and its authentication service.
TVQ_CLUSTER_PACKAGES="slurmctld slurmd slurm-client munge"

# tvq_install_packages [PACKAGE...]: installs those of the packages (TVQ_PACKAGES when
# none are named) that are missing.
tvq_install_packages() {
  local missing=()
  local pkg
  local wanted="${*:-$TVQ_PACKAGES}"
  for pkg in $wanted; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local cmd="apt-get install -y --no-install-recommends ${missing[*]}"
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -q && DEBIAN_FRONTEND=noninteractive $cmd
  elif command -v sudo >/dev/null 2>&1; then
    sudo apt-get update -q && sudo DEBIAN_FRONTEND=noninteractive $cmd
  else
    echo "tvq needs these Debian packages; install them as root with:" >&2
    echo "  apt-get update && $cmd" >&2
    exit 1
  fi
}

# tvq_build DIR [cmake options...]: configures (quick when nothing changed) and
# builds incrementally.
tvq_build() {
  local dir="$1"
  shift
  cmake -S "$TVQ_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}
