#!/usr/bin/env bash
# Builds a demonstration: an update server (SQLite) holding versions 1.0 and 1.1, signed with a
# publisher key made here, an installation of version 1.0 whose qorv.ini points at it and holds
# the public key, and runs the updater there — in its window when a display is available,
# otherwise with --update, which then also shows an unsigned version 1.2 being refused.
#
# usage: tools/demo.sh BUILD_DIR   (the demo is created in ./demo, replacing an earlier one)
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
bin=$build/bin
demo=$PWD/demo
admin() { "$bin/qorv_admin" "$@"; }

rm -rf "$demo"
mkdir -p "$demo/server" "$demo/keys" "$demo/release-1.0" "$demo/release-1.1" "$demo/release-1.2" \
    "$demo/install"

# Two releases of a small installation: a program, a table in a subdirectory with a Chinese
# name, and a data file of more than a megabyte.
make_release() { # DIR VERSION
    local dir=$1 version=$2
    mkdir -p "$dir/考务资料" "$dir/lib"
    printf 'qorv %s\n' "$version" > "$dir/qorv.exe"
    printf '科目,考场,监考人数\n语文,第一考场,2\n数学,第二考场,%s\n' "$version" > "$dir/考务资料/科目安排.csv"
    head -c 1500000 /dev/urandom > "$dir/lib/考务数据.bin"
}
make_release "$demo/release-1.0" 1.0
make_release "$demo/release-1.1" 1.1
make_release "$demo/release-1.2" 1.2

# The publisher's key pair: the private key stays with the publisher (here: demo/keys), the
# public key goes into every installation's qorv.ini.
pubkey=$(admin keygen "$demo/keys")

server="sqlite:$demo/server/update.db"
admin init --server "$server"
admin publish --server "$server" --ver 1.0 --base "$demo/release-1.0" --sign "$demo/keys/qorv-release.key" "$demo/release-1.0"
admin publish --server "$server" --ver 1.1 --base "$demo/release-1.1" --sign "$demo/keys/qorv-release.key" "$demo/release-1.1"
admin list --server "$server"

# The installation has version 1.0, the subdirectories included (the updater creates none).
cp -r "$demo/release-1.0/." "$demo/install/"
# A relative server name is taken from the installation directory.
admin write-ini "$demo/install" --server "sqlite:../server/update.db" --database demo \
    --user demo --password demo --ver 1.0 --pubkey "$pubkey"
echo
echo "qorv.ini of the installation:"
cat "$demo/install/qorv.ini"
echo

cd "$demo/install"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Opening the update window in $demo/install ..."
    "$bin/qorv_update"
else
    echo "No display: updating $demo/install without a window."
    "$bin/qorv_update" --check
    echo
    "$bin/qorv_update" --update
    echo
    "$bin/qorv_update" --check
    echo
    echo "The installation now holds version 1.1:"
    cmp -s "$demo/install/lib/考务数据.bin" "$demo/release-1.1/lib/考务数据.bin" && echo "  lib/考务数据.bin is the 1.1 file"
    cat "$demo/install/考务资料/科目安排.csv"

    echo
    echo "Someone with only the database login publishes version 1.2, without the private key:"
    admin publish --server "$server" --ver 1.2 --base "$demo/release-1.2" "$demo/release-1.2" 2>/dev/null
    if "$bin/qorv_update" --update; then
        echo "the unsigned version 1.2 was installed: this must not happen" >&2
        exit 1
    else
        echo "qorv_update refused it (exit status $?); the installation still holds version 1.1:"
        grep '^ver=' "$demo/install/qorv.ini"
    fi
fi
