#!/usr/bin/env bash
# The demo run: sample pages, module settings, one twf workflow, then the checks and a summary.
# Usage: tools/demo/demo.sh BUILD_DIR|--installed [--show] [--web [--listen ADDRESS:PORT]]
#   BUILD_DIR: the programs of that build (./run demo builds build/ and calls this);
#   --installed: the installed programs, found on the PATH (./run demo --installed);
#   --web: the workflow stays up with raduvuz-web on its bus until Enter or Ctrl+C.
set -euo pipefail

HERE=$(cd "$(dirname "$(readlink -f "$0")")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
WHERE=${1:?build folder or --installed}
shift
SHOW=0
WEB=0
LISTEN=127.0.0.1:8632
while [ $# -gt 0 ]; do
    case "$1" in
    --show) SHOW=1 ;;
    --web) WEB=1 ;;
    --listen)
        [ $# -ge 2 ] || { echo "demo: --listen needs ADDRESS:PORT" >&2; exit 2; }
        LISTEN=$2
        shift
        ;;
    *)
        echo "usage: ./run demo [--installed] [--show] [--web [--listen ADDRESS:PORT]]" >&2
        exit 2
        ;;
    esac
    shift
done

RUN=${RADUVUZ_DEMO_DIR:-$ROOT/out/demo}
# twf starts the module and the store programs that lie beside it.
if [ "$WHERE" = --installed ]; then
    for program in twf raduvuz-rastergen raduvuz memoryman raduvuz-ctl raduvuz-web; do
        command -v "$program" >/dev/null || {
            echo "demo: $program is not on the PATH; install the package first (./run package)" >&2
            exit 1
        }
    done
    TWF=$(command -v twf)
    RASTERGEN=$(command -v raduvuz-rastergen)
    WEB_PROGRAM=$(command -v raduvuz-web)
    echo "demo: the installed programs ($TWF, $("$TWF" --version))"
else
    BUILD=$(cd "$WHERE" && pwd)
    TWF=$BUILD/tools/twf/twf
    RASTERGEN=$BUILD/tools/rastergen/raduvuz-rastergen
    WEB_PROGRAM=$BUILD/tools/web/raduvuz-web
    for program in "$TWF" "$RASTERGEN" "$BUILD/app/raduvuz" "$BUILD/tools/memoryman/memoryman" \
        "$BUILD/tools/ctl/raduvuz-ctl" "$WEB_PROGRAM"; do
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

# The gateway of --web: on twf's private bus once it is up, with an operator account of the run's
# own (its folder lies in the run folder, not in the user's configuration).
WEB_PID=
start_web() {
    local address="" i
    for i in $(seq 300); do
        address=$(sed -n 's/.*private bus at \(.*\)$/\1/p' "$RUN/twf.log" 2>/dev/null | head -n 1)
        [ -n "$address" ] && break
        sleep 0.1
    done
    if [ -z "$address" ]; then
        echo "demo: twf's bus did not come up; no web console" >&2
        return
    fi
    DBUS_SESSION_BUS_ADDRESS=$address DBUS_STARTER_ADDRESS= "$WEB_PROGRAM" --listen "$LISTEN" \
        >"$RUN/web.out" 2>"$RUN/web.log" </dev/null &
    echo $! >"$RUN/web.pid"
    for i in $(seq 100); do
        grep -q 'serving' "$RUN/web.out" 2>/dev/null && break
        kill -0 "$(cat "$RUN/web.pid")" 2>/dev/null || break
        sleep 0.1
    done
    if ! grep -q 'serving' "$RUN/web.out" 2>/dev/null; then
        echo "demo: raduvuz-web did not start: $(tail -n 3 "$RUN/web.log" "$RUN/web.out" 2>/dev/null)" >&2
        return
    fi
    local url
    url=$(sed -n 's/^raduvuz-web: serving //p' "$RUN/web.out" | head -n 1)
    case "$LISTEN" in
    0.0.0.0:* | "[::]:"*) url="$url (from another computer: https://$(hostname):${LISTEN##*:}/)" ;;
    esac
    {
        echo
        echo "demo: the web console is at $url"
        echo "      sign in as \"demo\" with the password $WEB_PASSWORD"
        echo "      the certificate is self-signed: accept the browser's warning once; its"
        echo "      $(sed -n 's/^raduvuz-web: certificate .*, \(SHA-256 fingerprint .*\)$/\1/p' "$RUN/web.out")"
        echo "      module Spool holds the Proof plates: release them there and they reach"
        echo "      $RUN/sinks/22-proofer"
        echo "      press Enter here (or Ctrl+C) to end the workflow and the web console"
        echo
    } >&2
}
stop_web() {
    if [ -s "$RUN/web.pid" ]; then
        kill -TERM "$(cat "$RUN/web.pid")" 2>/dev/null || true
        wait "$(cat "$RUN/web.pid")" 2>/dev/null || true
        rm -f "$RUN/web.pid"
    fi
}
if [ "$WEB" = 1 ]; then
    export XDG_CONFIG_HOME=$RUN/web-config
    mkdir -p -m 700 "$XDG_CONFIG_HOME"
    WEB_PASSWORD=$(tr -dc 'a-z0-9' </dev/urandom | head -c 10 || true)
    if ! echo "$WEB_PASSWORD" | "$WEB_PROGRAM" user add demo --role operator >/dev/null \
        2>"$RUN/web-user.log"; then
        cat "$RUN/web-user.log" >&2
        exit 1
    fi
    trap 'stop_web; rm -rf "$SETS"' EXIT
fi

echo "demo: running the workflow in $RUN (twf log: $RUN/twf.log)"
twf_args=(--quiet)
[ "$SHOW" = 1 ] && twf_args+=(--show)
[ "$WEB" = 1 ] && [ "$SHOW" = 0 ] && twf_args+=(--keep)
set +e
if [ "$WEB" = 1 ]; then
    start_web &
    # Only twf's own prompt reaches the terminal; everything else stays in twf.err.
    "$TWF" "${twf_args[@]}" "$RUN/demo.ini" >"$RUN/twf.out" \
        2> >(tee "$RUN/twf.err" | grep --line-buffered '^twf: ' >&2)
    twf_rc=$?
    wait
    stop_web
    echo "demo: the checks count what reached the sinks: what was released or sent on from the" \
        "browser shows as a difference"
elif [ "$SHOW" = 1 ]; then
    echo "demo: the module consoles open on $DISPLAY"
    # Only twf's own prompt reaches the terminal; everything else stays in twf.err.
    "$TWF" "${twf_args[@]}" "$RUN/demo.ini" >"$RUN/twf.out" \
        2> >(tee "$RUN/twf.err" | grep --line-buffered '^twf: ' >&2)
    twf_rc=$?
else
    "$TWF" "${twf_args[@]}" "$RUN/demo.ini" >"$RUN/twf.out" 2>"$RUN/twf.err" </dev/null
    twf_rc=$?
fi
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
