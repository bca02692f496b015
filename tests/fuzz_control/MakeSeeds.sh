#!/bin/sh
# Seeds of fuzz_config and fuzz_holdfile. A fuzz_config seed is one byte that says how the rest
# reaches the module (0: .set file bytes, 1: configuration string in a .set file, 2: ImportConfig
# text, 3: ImportConfig text before hex encoding), then the rest. The .set files are made with
# libgsf's own tool (Debian package libgsf-bin).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
config="$here/corpus/fuzz_config"
hold="$here/corpus/fuzz_holdfile"
mkdir -p "$config" "$hold"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

full='StoreDir="$MAINTWFDIR$/Storage";DeletePolicy=2;KeepTime=60;WorkMode=1;Copies=3;LastPrvDpi=300;MaxFiles=5;FreeSpace=12.50;LastInTop=1;Multiplex=0;GenPreview=0;Event=1;HoldJobs=12_34,13_35;HoldList="Term A",PRN_B'

seed_set() { # name, configuration string
    printf '%s' "$2" | python3 -c 'import sys,struct; t=sys.stdin.buffer.read(); sys.stdout.buffer.write(struct.pack("<I",len(t))+t)' >"$work/K"
    printf 'Width=800;Height=600' >"$work/Config"
    (cd "$work" && gsf createole set K Config >/dev/null 2>&1)
    { printf '\000'; cat "$work/set"; } >"$config/$1"
}
seed_set set-full "$full"
seed_set set-bounds 'DeletePolicy=99;WorkMode=-7;KeepTime=-2147483648;Copies=2147483647;FreeSpace=nan;MaxFiles=-1'
printf '\001%s' "$full" >"$config/string-full"
printf '\001%s' 'StoreDir="../../x";DeletePolicy=4;FreeSpace=-1;Multiplex=yes;HoldList=a,"b c"' >"$config/string-hostile"
printf '\002%s' "$(printf '%s' 'StoreDir="$DATATWFDIR$/Storage";KeepTime=90;HoldList=T1' | od -An -tx1 | tr -d ' \n' | tr a-f A-F)" >"$config/import-hex"
printf '\003%s' 'StoreDir="/nowhere";Copies=1000;Event=0' >"$config/import-text"

printf '11_101\n13_103\n' >"$hold/two"
printf '11_101\r\n\r\n13_103' >"$hold/crlf"
