#!/usr/bin/env bash
# Installs everything the builds, tests and runs need on Debian 12.
# Safe to run again: it does nothing when every package is there.
set -eu
packages=(
    build-essential cmake git python3 googletest
    zlib1g-dev libdeflate-dev gzip xz-utils zstd tar time
    clang libclang-rt-14-dev
    g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
    g++-mingw-w64-x86-64 mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
    wine wine64 wine32:i386 qemu-user
    xvfb xauth xdotool x11-utils imagemagick
    osslsigncode openssl
)
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "deps: everything is installed"
    exit 0
fi
echo "deps: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails one index now and then: going on with the
# lists that did arrive is better than stopping, and the install below
# says so when a package is really missing.
$sudo apt-get update -qq || echo "deps: some package lists could not be fetched; going on with those that were"
if ! $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    # When the security archive's i386 list could not be fetched, amd64
    # libraries updated from it have no i386 twin of the same version, which
    # wine32 needs. The release's own versions exist for both: install with
    # those preferred, downgrades allowed, then drop the preference again.
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    echo "deps: the install failed; trying again with the $codename release's own versions"
    pref=/etc/apt/preferences.d/qv-release-versions
    printf 'Package: *\nPin: release n=%s\nPin-Priority: 1001\n' "$codename" | $sudo tee "$pref" >/dev/null
    status=0
    $sudo apt-get install -y -qq --allow-downgrades --no-install-recommends "${missing[@]}" >/dev/null || status=$?
    $sudo rm -f "$pref"
    [ "$status" -eq 0 ] || exit "$status"
fi
echo "deps: done"
