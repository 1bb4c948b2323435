# Sourced by the scripts: installs the Debian or Ubuntu packages they need.
#
# need_packages PACKAGE...: installs those of the packages that are not
# installed yet, as root directly or else through sudo. Without either it
# names the missing packages and fails. The package lists are read once per
# run (TARNWICK_APT_UPDATED is exported so scripts it starts skip it). On a
# system without dpkg it names the packages and carries on, trusting the
# build to find the tools where they are.

need_packages() {
  local missing=() p
  if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
    echo "note: not a Debian-like system; this needs the equivalents of: $*" >&2
    return 0
  fi
  for p in "$@"; do
    # Read whole, then matched: no pipe for an early-exiting reader to break.
    [[ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" == *"install ok installed"* ]] ||
      missing+=("$p")
  done
  ((${#missing[@]} == 0)) && return 0

  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "missing Debian packages: ${missing[*]}" >&2
      echo "install them as root (apt-get install ${missing[*]}) or install sudo, then run this again" >&2
      return 1
    fi
    sudo=(sudo)
  fi
  echo "installing: ${missing[*]}"
  if [ -z "${TARNWICK_APT_UPDATED:-}" ]; then
    "${sudo[@]}" apt-get update -q
    export TARNWICK_APT_UPDATED=1
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# need_architecture ARCH: lets dpkg install packages of the architecture ARCH
# (i386 for wine32:i386) when it cannot yet, as root or through sudo; the next
# need_packages then reads the package lists again.
need_architecture() {
  command -v dpkg >/dev/null || return 0
  local have
  have=" $(dpkg --print-architecture) $(dpkg --print-foreign-architectures | tr '\n' ' ') "
  [[ "$have" == *" $1 "* ]] && return 0
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "adding the Debian architecture $1"
  "${sudo[@]}" dpkg --add-architecture "$1"
  unset TARNWICK_APT_UPDATED
}

# The packages that building the program alone needs.
build_packages=(cmake make g++)

# The packages that building the browser page needs.
web_packages=(emscripten cmake make)

# The packages that the browser page's test needs besides the page.
web_test_packages=(chromium chromium-driver python3-selenium)
