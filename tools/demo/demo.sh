#!/usr/bin/env bash
# The demo run: sample pages, module settings, one twf workflow, then the checks and a summary.
# Usage: tools/demo/demo.sh BUILD_DIR|--installed [--show]
#   BUILD_DIR: the programs of that build (./run demo builds build/ and calls this);
#   --installed: the installed programs, found on the PATH (./run demo --installed).
set -euo pipefail

HERE=$(cd "$(dirname "$(readlink -f "$0")")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
WHERE=${1:?build folder or --installed}
shift
SHOW=0
for arg in "$@"; do
    case "$arg" in
    --show) SHOW=1 ;;
    *)
        echo "usage: ./run demo [--installed] [--show]" >&2
        exit 2
        ;;
    esac
done

RUN=${RADUVUZ_DEMO_DIR:-$ROOT/out/demo}
# twf starts the module and the store programs that lie beside it.
if [ "$WHERE" = --installed ]; then
    for program in twf raduvuz-rastergen raduvuz memoryman raduvuz-ctl; do
        command -v "$program" >/dev/null || {
            echo "demo: $program is not on the PATH; install the package first (./run package)" >&2
            exit 1
        }
    done
    TWF=$(command -v twf)
    RASTERGEN=$(command -v raduvuz-rastergen)
    echo "demo: the installed programs ($TWF, $("$TWF" --version))"
else
    BUILD=$(cd "$WHERE" && pwd)
    TWF=$BUILD/tools/twf/twf
    RASTERGEN=$BUILD/tools/rastergen/raduvuz-rastergen
    for program in "$TWF" "$RASTERGEN" "$BUILD/app/raduvuz" "$BUILD/tools/memoryman/memoryman" \
        "$BUILD/tools/ctl/raduvuz-ctl"; do
        [ -x "$program" ] || { echo "demo: $program is missing; build first (./run build)" >&2; exit 1; }
    done
    # The workflow's last step lists module Spool's jobs with the raduvuz-ctl of this build.
    export PATH="$BUILD/tools/ctl:$PATH"
fi

if [ "$SHOW" = 1 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: --show needs a display (DISPLAY is not set); running without the consoles"
    SHOW=0
fi

rm -rf "$RUN"
mkdir -p "$RUN/pages" "$RUN/storage" "$RUN/data/TWF_Data/Config" "$RUN/sinks"
cp "$HERE/demo.ini" "$HERE/settle.sh" "$RUN/"

# Jobs: name, device (terminator number), priority, pages, plates, width, height. A4 plates at
# 150 and 200 dpi, one byte per pixel.
pages() {
    "$RASTERGEN" --name "$1" --device "$2" --priority "$3" --pages "$4" --plates "$5" \
        --width "$6" --height "$7" --seed "$8" "$RUN/pages" >/dev/null
}
pages brochure 1 5 2 CMYK 1654 2339 1
pages flyer 2 10 1 CMYK 1240 1754 2
pages poster 5 3 1 CM 1654 2339 3
pages proof 3 20 1 CMYK 1240 1754 4
pages catalog-a 4 8 1 CMYK 1240 1754 5
pages catalog-b 4 8 1 CMYK 1240 1754 6
pages catalog-c 4 12 1 CMYK 1240 1754 7

# Each module's settings: a compound file <key>.set in the data folder holding one stream named
# after the key, a 32-bit little-endian byte count and the settings text.
SETS=$(mktemp -d)
trap 'rm -rf "$SETS"' EXIT
for cfg in "$HERE"/config/*.cfg; do
    key=$(basename "$cfg" .cfg)
    text=$(sed "s|@STORAGE@|$RUN/storage|" "$cfg" | tr -d '\n')
    python3 -c 'import struct, sys; t = sys.argv[1].encode(); sys.stdout.buffer.write(struct.pack("<I", len(t)) + t)' \
        "$text" >"$SETS/$key"
    # gsf names every stream it adds; only its failure is worth showing.
    if ! out=$(cd "$SETS" && gsf createole "$key.set" "$key" 2>&1); then
        echo "demo: cannot write the settings of $key: $out" >&2
        exit 1
    fi
    mv "$SETS/$key.set" "$RUN/data/TWF_Data/Config/"
done

# The modules see only the demo's data folder and an empty registry; the store numbers its
# documents afresh with each run, as the run starts with empty storage.
export XDG_DATA_HOME=$RUN/data
export XDG_STATE_HOME=$RUN/state
export RADUVUZ_REGISTRY=$RUN/registry.ini
: >"$RADUVUZ_REGISTRY"
unset DBUS_STARTER_ADDRESS DBUS_STARTER_BUS_TYPE
if [ "$SHOW" = 0 ]; then
    export QT_QPA_PLATFORM=offscreen
fi

echo "demo: running the workflow in $RUN (twf log: $RUN/twf.log)"
twf_args=(--quiet)
[ "$SHOW" = 1 ] && twf_args+=(--show)
set +e
if [ "$SHOW" = 1 ]; then
    echo "demo: the module consoles open on $DISPLAY"
    # Only twf's own prompt reaches the terminal; everything else stays in twf.err.
    "$TWF" "${twf_args[@]}" "$RUN/demo.ini" >"$RUN/twf.out" \
        2> >(tee "$RUN/twf.err" | grep --line-buffered '^twf: ' >&2)
else
    "$TWF" "${twf_args[@]}" "$RUN/demo.ini" >"$RUN/twf.out" 2>"$RUN/twf.err" </dev/null
fi
twf_rc=$?
set -e

set +e
python3 "$HERE/check.py" "$RUN" "$twf_rc"
check_rc=$?
set -e
if [ -s "$RUN/ctl-jobs.txt" ]; then
    echo
    echo "raduvuz-ctl jobs -m Spool, as the run ended:"
    cat "$RUN/ctl-jobs.txt"
fi
exit "$check_rc"
