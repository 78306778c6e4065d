#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the examples need.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $(grep -v '^#' "$here/packages.txt") >/dev/null
