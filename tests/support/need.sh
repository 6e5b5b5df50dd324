# Installs the Debian packages that provide whatever a script needs and this
# machine lacks. Source it from the top of the source tree, then call
#   need TEST PACKAGE [TEST PACKAGE ...]
# Each TEST is a command ("cmake"), commands of which any one will do
# ("xxd|od"), or a path, globs allowed, that must exist
# ("/usr/include/gtest/gtest.h"). The packages of every TEST that fails are
# installed in one go; install_packages installs its arguments outright.
# apt-get runs as root, through sudo when we are not root. Without apt-get,
# or neither root nor sudo, it names the packages and stops the script.

have() {
  if [[ $1 == /* ]]; then
    compgen -G "$1" >/dev/null
    return
  fi
  local IFS='|' command
  for command in $1; do
    command -v "$command" >/dev/null && return 0
  done
  return 1
}

need() {
  local missing=()
  while [ $# -ge 2 ]; do
    have "$1" || missing+=("$2")
    shift 2
  done
  if [ ${#missing[@]} -gt 0 ]; then
    install_packages "${missing[@]}"
  fi
}

install_packages() {
  local sudo=""
  if [ "$(id -u)" != 0 ]; then
    command -v sudo >/dev/null && sudo=sudo || sudo=none
  fi
  if [ "$sudo" = none ] || ! command -v apt-get >/dev/null; then
    echo "$0: missing $*: install these packages and run it again" >&2
    exit 1
  fi
  echo "== installing: $* =="
  # Not left to the caller's set -e, which a call in a condition turns off.
  $sudo apt-get update -q || exit
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@" || exit
}
