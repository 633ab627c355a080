#!/usr/bin/env bash
# lumora's text services beside their peers, measured in the same run:
#  - uf_md5file on a 1 GiB cached file against `openssl dgst -md5`;
#  - replace on 16 Mi characters with 1,048,576 matches, of mixed Chinese and ASCII text and of
#    ASCII text, and getsep on the mixed text, against Python's str.replace and str.split;
#    hexencode in UTF-8, UTF-16 and ANSI and urlencode of 16 Mi characters of mixed text against
#    binascii.hexlify(text.encode(...)) and urllib.parse.quote (/usr/bin/python3), with the
#    memory each hexencode result holds over what its characters need.
# Printed: the best wall time of QORV_BENCH_RUNS runs each (default 3) and the ratio peer time /
# lumora time (1.0 is as fast as the peer, above 1.0 faster).
#
# usage: bench/lumora.sh BUILD_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
bin=$build/bin
here=$(cd "$(dirname "$0")" && pwd)
runs=${QORV_BENCH_RUNS:-3}
export QORV_BENCH_RUNS=$runs
work=$(mktemp -d "${TMPDIR:-/tmp}/lumora-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

line() { printf '%-16s %10s s %10s s  %-28s %6s\n' "$@"; }
ratio() { awk -v p="$1" -v l="$2" 'BEGIN { printf "%.2f", p / l }'; }

echo "lumora: case, lumora, peer, peer program, ratio (peer time / lumora time)"

# MD5 of a 1 GiB file, read once beforehand so that both sides find it in the page cache.
head -c $((1 << 30)) /dev/urandom >"$work/big.bin"
cat "$work/big.bin" >/dev/null
lumora_md5=$("$bin/lumora_bench" md5 "$work/big.bin" 2>"$work/md5.digest" | awk '{ print $2 }')
peer_md5=inf
for _ in $(seq "$runs"); do
    start=$(date +%s.%N)
    peer_digest=$(openssl dgst -md5 -r "$work/big.bin" | cut -d' ' -f1)
    end=$(date +%s.%N)
    peer_md5=$(awk -v a="$peer_md5" -v b="$(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')" \
        'BEGIN { print (b < a ? b : a) }')
done
if [ "digest $peer_digest" != "$(cat "$work/md5.digest")" ]; then
    echo "md5file: digests differ" >&2
    exit 1
fi
line md5file "$lumora_md5" "$peer_md5" "openssl dgst -md5" "$(ratio "$peer_md5" "$lumora_md5")"
rm -f "$work/big.bin"

/usr/bin/python3 "$here/lumora_peers.py" write "$work"
"$bin/lumora_bench" text "$work" >"$work/lumora.txt"
/usr/bin/python3 "$here/lumora_peers.py" run "$work" >"$work/peer.txt"
declare -A peer_name=([replace_mixed]="str.replace" [replace_ascii]="str.replace"
    [getsep]="str.split" [hexencode_utf8]="hexlify(encode('utf-8'))"
    [hexencode_utf16]="hexlify(encode('utf-16-le'))" [hexencode_ansi]="hexlify(encode('gbk'))"
    [urlencode_utf8]="urllib.parse.quote")
grep -v '^memory ' "$work/lumora.txt" | while read -r name seconds; do
    peer=$(awk -v n="$name" '$1 == n { print $2 }' "$work/peer.txt")
    line "$name" "$seconds" "$peer" "${peer_name[$name]}" "$(ratio "$peer" "$seconds")"
done
grep '^memory ' "$work/lumora.txt" | while read -r _ name factor; do
    printf '%-16s result memory / size of its characters: %s\n' "$name" "$factor"
done
