#!/bin/sh
# check-deb.sh CPACK BUILD_DIR WORK_DIR
#
# Builds the Debian package of BUILD_DIR with CPack into WORK_DIR and checks
# what dpkg will make of it: the files and their modes, the conffiles, the
# relationships and the maintainer scripts.
set -eu

cpack=$1
build=$2
work=$3

rm -rf "$work"
mkdir -p "$work"
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    exit 1
fi
set -- "$work"/kav_*.deb
[ $# -eq 1 ] && [ -f "$1" ] || { echo "FAIL: expected one kav_*.deb in $work"; ls "$work"; exit 1; }
deb=$1

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# "mode path" for every file, symlinks as "link path".
dpkg-deb -c "$deb" | awk '{ mode = substr($1, 1, 1) == "l" ? "link" : $1; sub(/^\./, "", $6); print mode, $6 }' \
    >"$work/files"

expect_file() { # MODE PATH
    grep -qx -e "$1 $2" "$work/files" || fail "$2 missing or not $1"
}

for program in kav orv-event orv-teo-sink orv-qob-proxy; do
    expect_file -rwxr-xr-x /opt/KTRXORV/bin/$program
done
expect_file link /opt/KTRXORV/lib/libqobimapi.so.1
expect_file -rw-r--r-- /opt/KTRXORV/lib/libqobimapi.so.1.0.0
expect_file -rw-r--r-- /opt/KTRXORV/lib/locale/KTRX_VOTRA_CMD.pot
expect_file -rw-r--r-- /opt/KTRXORV/share/kav/examples/01-cpu-ecache.json
expect_file -rw-r--r-- /etc/opt/KTRXORV/ORV/config/event_email.cf
expect_file -rw-r--r-- /etc/opt/KTRXORV/ORV/config/eventdb.json
expect_file -rw-r--r-- /etc/opt/KTRXORV/ORV/config/templates/fault.tpl
expect_file -rwxr-xr-x /etc/opt/KTRXORV/ORV/config/scripts/send_mail
expect_file -rwxr-xr-x /etc/opt/KTRXORV/ORV/config/scripts/spool_mail
expect_file -rw-r--r-- /etc/logrotate.d/kav
expect_file -rw-r--r-- /etc/default/kav
expect_file -rw-r--r-- /lib/systemd/system/kav.service
expect_file -rw-r--r-- /usr/share/man/man8/kav.8.gz
expect_file -rw-r--r-- /usr/share/man/man1/orv-event.1.gz
expect_file -rw-r--r-- /usr/share/man/man5/event_email.cf.5.gz
# Logs and spool belong to the maintainer scripts (purge removes them); no
# development link, no file of the build tree.
grep -q ' /var/' "$work/files" && fail "the package ships files under /var"
grep -qx 'link /opt/KTRXORV/lib/libqobimapi.so' "$work/files" && fail "the package ships a development link"
grep -Eq ' /(usr/local|work|tmp)/' "$work/files" && fail "files outside the layout: $(grep -E ' /(usr/local|work|tmp)/' "$work/files")"

# Every file under /etc, and nothing else, is a conffile.
dpkg-deb -e "$deb" "$work/control"
grep ' /etc/' "$work/files" | grep -v '^d' | cut -d' ' -f2 | sort >"$work/etc-files"
sort "$work/control/conffiles" >"$work/conffiles"
cmp -s "$work/etc-files" "$work/conffiles" || fail "conffiles differ from the files under /etc:
$(diff "$work/etc-files" "$work/conffiles")"

field() { dpkg-deb -f "$deb" "$1"; }
case "$(field Depends)" in
*libmd0*) ;;
*) fail "Depends lacks libmd0: $(field Depends)" ;;
esac
case "$(field Depends)" in
*libsqlite3-0*) ;;
*) fail "Depends lacks libsqlite3-0: $(field Depends)" ;;
esac
case "$(field Depends)" in
*libsystemd0*) ;;
*) fail "Depends lacks libsystemd0: $(field Depends)" ;;
esac
[ "$(field Recommends)" = "default-mta | mail-transport-agent" ] || fail "Recommends: $(field Recommends)"
[ "$(field Package)" = kav ] || fail "Package: $(field Package)"

for script in postinst prerm postrm; do
    [ -x "$work/control/$script" ] || fail "$script missing or not executable"
    sh -n "$work/control/$script" || fail "$script does not parse"
done
grep -q 'mkdir -p "$var/logs" "$var/mail-spool"' "$work/control/postinst" || fail "postinst makes no log and spool folders"

# The maintainer scripts run against a scratch root: configure makes the
# folders, purge removes them again.
root=$work/root
mkdir -p "$root"
sed "s#/var/opt#$root/var/opt#g" "$work/control/postinst" >"$work/postinst.scratch"
sed "s#/var/opt#$root/var/opt#g" "$work/control/postrm" >"$work/postrm.scratch"
# With only the file tools on PATH, systemd and its helpers are out of
# reach even on a machine that runs systemd: the scripts touch the folders only.
mkdir -p "$work/bin"
for tool in mkdir chmod rm rmdir; do
    ln -s "$(command -v $tool)" "$work/bin/$tool"
done
scratch_env() { env PATH="$work/bin" /bin/sh "$@"; }
scratch_env "$work/postinst.scratch" configure "" || fail "postinst configure failed"
[ "$(stat -c %a "$root/var/opt/KTRXORV/ORV/logs" 2>/dev/null)" = 750 ] || fail "postinst: no logs folder of mode 750"
[ "$(stat -c %a "$root/var/opt/KTRXORV/ORV/mail-spool" 2>/dev/null)" = 700 ] || fail "postinst: no spool of mode 700"
touch "$root/var/opt/KTRXORV/ORV/logs/platform.log"
scratch_env "$work/postrm.scratch" remove || fail "postrm remove failed"
[ -f "$root/var/opt/KTRXORV/ORV/logs/platform.log" ] || fail "postrm remove deleted the logs"
scratch_env "$work/postrm.scratch" purge || fail "postrm purge failed"
[ ! -e "$root/var/opt/KTRXORV" ] || fail "postrm purge left $(find "$root/var/opt/KTRXORV")"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed; package contents:"
    cat "$work/files"
    exit 1
fi
echo "kav package: all checks passed"
