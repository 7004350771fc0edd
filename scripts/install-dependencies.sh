#!/bin/sh
# Installs what the build, the tests and the agent need on a fresh Debian 12
# machine. Runs as root, or through sudo when it is not root.
set -eu
packages="
  build-essential cmake ninja-build ccache pkg-config git clang-format python3
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev time
  libcurl4-openssl-dev ca-certificates openssl
  libxml2-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 mingw-w64-tools
  wine wine64 msitools wixl
  libevtx-dev libbfio-dev libevt-utils libevtx-utils
  libldap-dev libsasl2-dev libsasl2-modules-gssapi-mit libkrb5-dev ldap-utils openssl
  samba samba-dsdb-modules samba-vfs-modules samba-ad-provision
"
missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing="$missing $package"
done
[ -z "$missing" ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing:$missing"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
