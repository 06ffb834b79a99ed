#!/usr/bin/env bash
# Installs the Debian packages the build, the run and the tests need; only
# what is missing, so running it again costs nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libgl-dev fonts-wqy-microhei
  libgtest-dev libgmock-dev libbenchmark-dev
  dbus  # the resume watcher's tests run a private dbus-daemon
  # The update check's https test: a test authority made with openssl, put
  # in place of the system's (ca-certificates) in a private mount and
  # network namespace whose loopback ip brings up.
  openssl ca-certificates iproute2
  librsvg2-bin  # rsvg-convert renders the icon's PNG sizes for installation
  systemd  # systemd-socket-activate starts the host as its socket unit does, in a test
  prometheus-cpp-dev  # --serve: the exposition format and its HTTP server
  prometheus          # the --serve integration test scrapes with the real server
)
if [ "${1:-}" = "--ci" ]; then
  packages+=(clang libclang-rt-14-dev)
  # Checks of the installed files and of the Debian package.
  packages+=(desktop-file-utils appstream lintian)  # systemd-analyze: systemd, above
fi
# scripts/measure-cost.sh: a virtual X server, htop to compare against, and
# xwininfo and xdpyinfo to report the window's size and the server's shared memory.
if [ "${1:-}" = "--measure" ]; then
  packages+=(xvfb htop tmux x11-utils)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}" >&2
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
