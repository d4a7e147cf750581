#!/bin/sh
# Installs the Debian packages one of the project's commands needs, and
# nothing else:
#   demo   building the daemon and its tools, and running ./demo.sh
#   test   everything ./run-tests.sh uses (packaging, install checks, the
#          email delivery test, the sanitizer builds and the fuzzers)
#   bench  everything ./bench/run.sh uses
# Packages already present are left alone and the package lists are only
# refreshed when something is missing. Run by a user other than root, it
# prints the one command that installs what is missing and fails.
set -eu

build="cmake g++ make libgtest-dev libmd-dev libsqlite3-dev libsystemd-dev nlohmann-json3-dev pkg-config util-linux"
case "${1:-}" in
demo)  wanted="$build" ;;
test)  wanted="$build clang-format python3 msmtp dpkg-dev file systemd logrotate man-db clang libclang-rt-14-dev" ;;
bench) wanted="$build coreutils" ;;
*)
    echo "usage: $0 demo|test|bench" >&2
    exit 2
    ;;
esac

if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "install-deps: not a Debian system; make sure these are installed: $wanted" >&2
    exit 0
fi

missing=
for package in $wanted; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    case "$status" in
    *" installed") ;;
    *) missing="$missing $package" ;;
    esac
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages; run this first:" >&2
    echo "    sudo apt-get install -y --no-install-recommends$missing" >&2
    exit 1
fi

echo "install-deps: installing$missing" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -q >&2
# shellcheck disable=SC2086
apt-get install -y -q --no-install-recommends $missing >&2
