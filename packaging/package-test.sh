#!/usr/bin/env bash
# ./run package-test runs this as root in a mount namespace of its own: installs the package,
# checks the installed files and versions, runs the demo and the bus activation against the
# installed programs only, lets a non-root operator account run the demo and add a spot colour
# in the console, checks that nothing was written into the program folder, then purges the
# package and checks that nothing of it is left and that the operator's data is.
# Usage: packaging/package-test.sh PACKAGE.deb
set -euo pipefail

DEB=$(readlink -f "${1:?package file}")
ROOT=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
SERVICES=/usr/share/dbus-1/services
export DEBIAN_FRONTEND=noninteractive
# Only the installed programs: no build folder, nothing of the caller's environment.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
unset LD_LIBRARY_PATH RADUVUZ_REGISTRY XDG_DATA_HOME XDG_STATE_HOME DBUS_SESSION_BUS_ADDRESS \
    DBUS_STARTER_ADDRESS DBUS_STARTER_BUS_TYPE QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY

ok() { echo "  ok    $*"; }
fail() {
    echo "  FAIL  $*" >&2
    exit 1
}

installed() { dpkg-query -W -f='${Status}' raduvuz 2>/dev/null | grep -q 'ok installed'; }
known() { dpkg-query -W raduvuz >/dev/null 2>&1; }

if known; then
    echo "raduvuz is already on this machine ($(dpkg-query -W -f='${Status}' raduvuz)):" \
        "remove it first (apt-get purge raduvuz)" >&2
    exit 1
fi

WORK=$(mktemp -d /tmp/raduvuz-package-test-XXXXXX)
PRIVATE_SERVICES=$WORK/services
DAEMON_PID=
STARTED=()
# A non-root operator, added for the test and removed after it.
OPERATOR=raduvuz-pkgtest
OPERATOR_ADDED=
cleanup() {
    local rc=$?
    [ -n "$DAEMON_PID" ] && kill "$DAEMON_PID" 2>/dev/null
    for pid in "${STARTED[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
    if known; then
        echo "package-test: purging raduvuz after a failure" >&2
        apt-get purge -y -qq raduvuz >/dev/null 2>&1 || dpkg --purge raduvuz >/dev/null 2>&1 || true
    fi
    umount "$SERVICES" 2>/dev/null || true
    if [ -n "$OPERATOR_ADDED" ]; then userdel "$OPERATOR" 2>/dev/null || true; fi
    rm -rf "$WORK"
    exit $rc
}
trap cleanup EXIT

# The bus's session service folder is a copy in this namespace only.
mkdir -p "$PRIVATE_SERVICES"
cp -a "$SERVICES/." "$PRIVATE_SERVICES/"
mount --bind "$PRIVATE_SERVICES" "$SERVICES"

echo "Install"
if ! apt-get install -y -q "$DEB" >"$WORK/apt-install.log" 2>&1; then
    cat "$WORK/apt-install.log" >&2
    fail "apt-get install $DEB"
fi
installed || fail "dpkg does not list raduvuz as installed"
VERSION=$(dpkg-query -W -f='${Version}' raduvuz)
ok "apt-get install $(basename "$DEB"): raduvuz $VERSION"
# The libraries come from the binaries (dpkg-shlibdeps); the INI reader is one of them.
dpkg-query -W -f='${Depends}' raduvuz | grep -q 'libinih1' ||
    fail "the package does not depend on libinih1: $(dpkg-query -W -f='${Depends}' raduvuz)"
ok "the package depends on libinih1, the registry's and the workflow files' INI reader"
dpkg -L raduvuz >"$WORK/files"
missing=0
while read -r path; do
    [ -e "$path" ] || [ -L "$path" ] || { echo "  not on disk: $path" >&2; missing=1; }
done <"$WORK/files"
[ "$missing" = 0 ] || fail "files of the package are missing"
ok "every path of dpkg -L is on disk ($(wc -l <"$WORK/files") paths)"
for path in /usr/lib/raduvuz/raduvuz /usr/lib/raduvuz/Language.deu /usr/bin/raduvuz /usr/bin/twf \
    /usr/bin/memoryman /usr/bin/raduvuz-rastergen /usr/bin/raduvuz-goevent /usr/bin/raduvuz-ctl \
    /usr/bin/raduvuz-web /usr/lib/systemd/user/raduvuz-web.service /usr/share/man/man1/raduvuz-web.1.gz \
    $SERVICES/RAduvuz.ServerProvider.service $SERVICES/RozEza.MemoryMan.service \
    /usr/share/dbus-1/interfaces/RAduvuz.IModuleControl.xml \
    /usr/share/dbus-1/interfaces/RAduvuz.IServerProvider.xml \
    /usr/share/dbus-1/interfaces/RAduvuz.IJobControl.xml \
    /usr/share/icons/hicolor/32x32/apps/raduvuz.png /etc/opt/raduvuz/registry.ini \
    /usr/lib/raduvuz/ColorsCMYK.map \
    /usr/share/man/man1/raduvuz.1.gz /usr/share/man/man1/twf.1.gz \
    /usr/share/man/man1/memoryman.1.gz /usr/share/man/man1/raduvuz-ctl.1.gz \
    /usr/share/doc/raduvuz/copyright \
    /usr/share/doc/raduvuz/changelog.gz; do
    grep -qx "$path" "$WORK/files" || fail "the package has no $path"
done
ok "the programs, the activation files, the interface XML, the icon, the man pages and the registry file are there"
dpkg-query -W -f='${Conffiles}\n' raduvuz | grep -q '^ /etc/opt/raduvuz/registry.ini ' ||
    fail "/etc/opt/raduvuz/registry.ini is not a configuration file of the package"
ok "/etc/opt/raduvuz/registry.ini is a configuration file"

echo "Versions"
programs=(raduvuz twf memoryman raduvuz-rastergen raduvuz-goevent raduvuz-ctl raduvuz-web)
for program in "${programs[@]}"; do
    [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not /usr/bin/$program"
    shown=$("$program" --version)
    [ "$shown" = "$program $VERSION" ] || fail "$program --version shows \"$shown\", the package is $VERSION"
done
ok "--version of ${programs[*]}: $VERSION, the package's version"
# The about box shows the release and build parts of the file version the program carries.
file_version=$(grep -ao 'FileVersion=[0-9.]*' /usr/lib/raduvuz/raduvuz | head -1 | cut -d= -f2)
IFS=. read -r _ _ release build <<<"$file_version"
IFS=. read -r major minor _ <<<"$VERSION"
[ "$release.$build" = "$major.$minor" ] && [ "$release" != 0 ] ||
    fail "the about box would show Build $release.$build (file version $file_version) for $VERSION"
ok "the about box shows \"Build $release.$build\" (file version $file_version)"
for page in $(grep '^/usr/share/man/man1/' "$WORK/files"); do
    name=$(basename "$page" .1.gz)
    warnings=$(MANWIDTH=80 man --warnings -E UTF-8 1 "$name" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man $name: $warnings"
done
ok "man renders $(grep -c '^/usr/share/man/man1/' "$WORK/files") installed pages without warnings"

echo "Demo with the installed programs"
if ! RADUVUZ_DEMO_DIR=$WORK/demo HOME=$WORK/home "$ROOT/tools/demo/demo.sh" --installed \
    >"$WORK/demo.out" 2>&1; then
    cat "$WORK/demo.out" >&2
    fail "the demo failed"
fi
sed 's/^/        /' "$WORK/demo.out"
grep -q "document store started (/usr/bin/memoryman," "$WORK/demo/twf.log" ||
    fail "twf did not start the installed store"
modules=$(grep -c ': started /usr/bin/raduvuz, pid' "$WORK/demo/twf.log")
[ "$modules" = 3 ] || fail "twf started $modules modules from /usr/bin/raduvuz, not 3"
ok "the demo passed with /usr/bin/twf, /usr/bin/memoryman and 3 modules of /usr/bin/raduvuz"

echo "Bus activation"
mkdir -p "$WORK/bus-home" "$WORK/bus-xdg" "$WORK/bus-state"
BUS=unix:path=$WORK/bus
# What the bus hands to the programs it starts: its own address, the test's folders, and no
# display at all (neither DISPLAY, WAYLAND_DISPLAY nor QT_QPA_PLATFORM), as on a server.
env -i PATH="$PATH" HOME="$WORK/bus-home" XDG_DATA_HOME="$WORK/bus-xdg" \
    XDG_STATE_HOME="$WORK/bus-state" DBUS_SESSION_BUS_ADDRESS="$BUS" \
    dbus-daemon --session --address="$BUS" --nofork \
    >"$WORK/daemon.log" 2>&1 &
DAEMON_PID=$!
for _ in $(seq 50); do [ -S "$WORK/bus" ] && break; sleep 0.1; done
[ -S "$WORK/bus" ] || fail "the private dbus-daemon did not start"
call() { dbus-send --bus="$BUS" --print-reply=literal "$@"; }
pid_of() {
    call --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.GetConnectionUnixProcessID \
        "string:$1" | awk '{print $2}'
}
activatable=$(call --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.ListActivatableNames)
for name in RAduvuz.ServerProvider RozEza.MemoryMan; do
    echo "$activatable" | grep -qw "$name" || fail "$name is not activatable on the private bus"
done
owned=$(call --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.ListNames)
if echo "$owned" | grep -qwE 'RAduvuz.ServerProvider|RozEza.MemoryMan'; then
    fail "a provider or store was on the bus before the first call"
fi
ok "RAduvuz.ServerProvider and RozEza.MemoryMan are activatable, nobody owns them yet"

# Started by name first, the provider stays until someone calls it, so its program can be seen.
call --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.StartServiceByName \
    string:RAduvuz.ServerProvider uint32:0 >/dev/null || fail "the bus cannot start RAduvuz.ServerProvider"
provider=$(pid_of RAduvuz.ServerProvider)
STARTED+=("$provider")
[ "$(readlink "/proc/$provider/exe")" = /usr/lib/raduvuz/raduvuz ] ||
    fail "the provider runs \"$(readlink "/proc/$provider/exe")\""
reference=$(call --dest=RAduvuz.ServerProvider /ServerProvider RAduvuz.IServerProvider.GetObject string: |
    grep -o 'RAduvuz\.ModuleControl\.p[0-9]*/ModuleControl') ||
    fail "GetObject of RAduvuz.ServerProvider gave no module"
module=${reference%%/*}
module_pid=${module#RAduvuz.ModuleControl.p}
STARTED+=("$module_pid")
[ "$(readlink "/proc/$module_pid/exe")" = /usr/lib/raduvuz/raduvuz ] ||
    fail "the module runs \"$(readlink "/proc/$module_pid/exe")\""
# A module knows its computer once initialised; with no server given, the rest of Init is passed over.
call --dest="$module" /ModuleControl RAduvuz.IModuleControl.Init int32:9 "string:package test" string: >/dev/null ||
    fail "Init of the module failed"
name=$(call --dest="$module" /ModuleControl RAduvuz.IModuleControl.GetComputerName | xargs)
[ "$name" = "$(hostname | cut -c1-15)" ] || fail "the module answered GetComputerName with \"$name\""
ok "the bus started the provider (pid $provider, /usr/lib/raduvuz/raduvuz); GetObject gave $reference, which answers Init and GetComputerName"
if tr '\0' '\n' <"/proc/$module_pid/environ" | grep -qE '^(DISPLAY|WAYLAND_DISPLAY|QT_QPA_PLATFORM)='; then
    fail "the module was started with a display in its environment"
fi
shown=$(call --dest="$module" /ModuleControl RAduvuz.IModuleControl.ShowModule 2>&1) &&
    fail "ShowModule without a display answered \"$shown\""
echo "$shown" | grep -q "without a display" || fail "ShowModule without a display failed with \"$shown\""
kill -0 "$module_pid" 2>/dev/null || fail "the module ended after ShowModule"
ok "the module runs headless (no display in its environment): ShowModule is refused, it goes on"

main=$(call --dest=RozEza.MemoryMan /MemoryMan RozEza.MemoryMan.IsMainComputer "variant:string:$(hostname)" | xargs)
store=$(pid_of RozEza.MemoryMan)
STARTED+=("$store")
[ "$(readlink "/proc/$store/exe")" = /usr/bin/memoryman ] || fail "the store runs $(readlink "/proc/$store/exe")"
[ "$main" = "boolean true" ] || [ "$main" = true ] || fail "IsMainComputer answered \"$main\""
ok "the bus started the store (pid $store, /usr/bin/memoryman), which answers IsMainComputer"

echo "Web console"
# raduvuz-web on the same bus with an account of its own, as the systemd user unit runs it.
WEB_HOME=$WORK/web-home
mkdir -p "$WEB_HOME"
web() { env -i PATH="$PATH" HOME="$WEB_HOME" DBUS_SESSION_BUS_ADDRESS="$BUS" "$@"; }
echo "package test" | web raduvuz-web user add tester --role operator >/dev/null ||
    fail "raduvuz-web user add"
grep -q '^ExecStart=/usr/bin/raduvuz-web ' /usr/lib/systemd/user/raduvuz-web.service ||
    fail "the user unit does not start /usr/bin/raduvuz-web"
web raduvuz-web --listen 127.0.0.1:0 >"$WORK/web.out" 2>"$WORK/web.err" &
WEB_PID=$!
STARTED+=("$WEB_PID")
for _ in $(seq 100); do grep -q fingerprint "$WORK/web.out" && break; sleep 0.1; done
url=$(sed -n 's/^raduvuz-web: serving //p' "$WORK/web.out")
[ -n "$url" ] || fail "raduvuz-web did not start: $(cat "$WORK/web.err")"
# Signed in over HTTPS against the certificate it made, the module the bus started is listed.
/usr/bin/python3 - "$url" "$WEB_HOME/.config/raduvuz/web/cert.pem" "$module_pid" <<'PYTHON' ||
import json, ssl, sys, urllib.request
url, cert, module = sys.argv[1], sys.argv[2], int(sys.argv[3])
context = ssl.create_default_context(cafile=cert)
login = urllib.request.Request(url + "api/v1/login", method="POST",
                               data=json.dumps({"user": "tester", "password": "package test"}).encode())
with urllib.request.urlopen(login, context=context) as answer:
    assert json.load(answer)["role"] == "operator"
    cookie = answer.headers["Set-Cookie"].split(";")[0]
listing = urllib.request.Request(url + "api/v1/modules", headers={"Cookie": cookie})
with urllib.request.urlopen(listing, context=context) as answer:
    modules = [m["module"] for m in json.load(answer)]
assert module in modules, modules
PYTHON
    fail "signing in to raduvuz-web at $url and listing the modules"
kill "$WEB_PID"
wait "$WEB_PID" 2>/dev/null || true
ok "raduvuz-web served $url with its own certificate; the operator signed in and saw module $module_pid"

call --dest="$module" /ModuleControl RAduvuz.IModuleControl.Close >/dev/null
kill "$DAEMON_PID"
wait "$DAEMON_PID" 2>/dev/null || true
DAEMON_PID=
for pid in "${STARTED[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && fail "process $pid ($(readlink "/proc/$pid/exe")) outlived its bus"
done
STARTED=()
ok "module, provider and store ended with their bus"

echo "A non-root operator"
# The operator's home lies in the test's folder, which other users may enter.
OPHOME=$WORK/operator
chmod 755 "$WORK"
if id "$OPERATOR" >/dev/null 2>&1; then
    userdel "$OPERATOR" 2>/dev/null || fail "an account $OPERATOR is left from another run"
fi
useradd --home-dir "$OPHOME" --create-home --shell /bin/sh "$OPERATOR" || fail "useradd $OPERATOR"
OPERATOR_ADDED=1
as_operator() { runuser -u "$OPERATOR" -- env -i PATH="$PATH" HOME="$OPHOME" "$@"; }
if ! as_operator RADUVUZ_DEMO_DIR="$OPHOME/demo" "$ROOT/tools/demo/demo.sh" --installed \
    >"$WORK/operator-demo.out" 2>&1; then
    cat "$WORK/operator-demo.out" >&2
    fail "the demo failed for $OPERATOR"
fi
ok "$OPERATOR (uid $(id -u "$OPERATOR")) ran the demo with the installed programs"

# The console is driven offscreen by a robot loaded into the installed program (LD_PRELOAD):
# it selects a passed job whose colour is no spot colour yet, adds it in the spot colour editor,
# and after a restart reads the popup again.
g++ -std=c++17 -shared -fPIC -O1 "$ROOT/packaging/spot-robot.cpp" -o "$WORK/spot-robot.so" \
    $(pkg-config --cflags --libs Qt6Widgets) || fail "building the console robot"
chmod 755 "$WORK/spot-robot.so"
OPDATA=$OPHOME/.local/share/raduvuz
SPOT=SIGNALRED
# A whole spool file of a passed job of that colour, in the default storage of key Spot.
as_operator python3 - "$OPDATA/Storage/Spot" "$SPOT" <<'PYTHON' || fail "writing the operator's spool file"
import datetime, os, struct, sys
folder, colour = sys.argv[1], sys.argv[2]
# Created now, as days since 30 December 1899: a young passed job.
created = (datetime.datetime.now() - datetime.datetime(1899, 12, 30)).total_seconds() / 86400
os.makedirs(folder, mode=0o700, exist_ok=True)
text = ("Name=signage;Page=1;File=RST;Size=3;Color=" + colour).encode()
block = struct.pack("<ii", 3, 4) + b"\x02abc" + struct.pack("<i", 1)
with open(os.path.join(folder, "1_1"), "wb") as spool:
    spool.write(struct.pack("<i", len(text)) + text + struct.pack("<d", created) + block)
PYTHON
OPBUS=unix:path=$OPHOME/bus
OPDAEMON=$(as_operator dbus-daemon --session --address="$OPBUS" --fork --print-pid 2>"$WORK/operator-bus.log") ||
    fail "the operator's dbus-daemon did not start: $(cat "$WORK/operator-bus.log")"
STARTED+=("$OPDAEMON")
for _ in $(seq 50); do [ -S "$OPHOME/bus" ] && break; sleep 0.1; done
[ -S "$OPHOME/bus" ] || fail "the operator's dbus-daemon did not start"
opcall() { as_operator dbus-send --bus="$OPBUS" --print-reply=literal "$@"; }
# One console session: the bus starts the module, which reloads its passed job and shows its
# console; the robot acts; Close ends it, and the map is written as the window goes.
console_session() { # robot order
    local robot=$1 reference module pid
    : >"$WORK/robot.out"
    chmod 666 "$WORK/robot.out"
    opcall --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.UpdateActivationEnvironment \
        "dict:string:string:QT_QPA_PLATFORM,offscreen,LD_PRELOAD,$WORK/spot-robot.so,SPOT_ROBOT,$robot,SPOT_ROBOT_OUT,$WORK/robot.out" \
        >/dev/null || fail "setting the activation environment"
    reference=$(opcall --dest=RAduvuz.ServerProvider /ServerProvider RAduvuz.IServerProvider.GetObject string: |
        grep -o 'RAduvuz\.ModuleControl\.p[0-9]*/ModuleControl') || fail "GetObject on the operator's bus"
    module=${reference%%/*}
    pid=${module#RAduvuz.ModuleControl.p}
    STARTED+=("$pid")
    [ "$(stat -c %U "/proc/$pid")" = "$OPERATOR" ] || fail "the module does not run as $OPERATOR"
    control() { opcall --dest="$module" /ModuleControl "RAduvuz.IModuleControl.$1" "${@:2}" >/dev/null ||
        fail "$1 of the operator's module"; }
    control Init int32:4 string:Operator string:
    control LoadConfig string:Spot
    control CompletedSendTerminators
    control ShowModule
    # The robot's last line: the colour added (or why not), or for a check the popup it read.
    local last=added
    [ "${robot%%:*}" = check ] && last=popup
    for _ in $(seq 100); do
        grep -q "^$last" "$WORK/robot.out" || grep -q "did not\|has no" "$WORK/robot.out" && break
        sleep 0.1
    done
    opcall --dest="$module" /ModuleControl RAduvuz.IModuleControl.Close >/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && fail "the operator's module did not end after Close"
    ROBOT=$(cat "$WORK/robot.out")
}
console_session "add:$SPOT:0/100/80/10"
echo "$ROBOT" | grep -qx "popup: Add &spot color \"$SPOT\" (enabled)" ||
    fail "the console offered no \"Add spot color\" for the passed job: $ROBOT"
echo "$ROBOT" | grep -qx "added 0/100/80/10" || fail "the robot could not add the colour: $ROBOT"
MAP=$OPDATA/ColorsCMYK.map
grep -q "^0.0	100.0	80.0	10.0	$SPOT" "$MAP" 2>/dev/null || fail "$MAP does not hold $SPOT"
grep -q "HOUSE ORANGE" "$MAP" || fail "$MAP did not start as a copy of the shipped map"
ok "the operator's console (offscreen) listed the job of $OPDATA/Storage/Spot and added $SPOT to $MAP, which started from the shipped map"
console_session "check:$SPOT"
echo "$ROBOT" | grep -qx "popup: Edit &spot color \"$SPOT\" (enabled)" ||
    fail "after the restart the console did not know $SPOT: $ROBOT"
ok "after a restart the console offers \"Edit spot color\" for $SPOT: the colour was kept"
kill "$OPDAEMON" 2>/dev/null
for _ in $(seq 50); do kill -0 "$OPDAEMON" 2>/dev/null || break; sleep 0.1; done
# Nothing but the package's own files lies in the program folder.
find /usr/lib/raduvuz | sort >"$WORK/program-folder"
grep '^/usr/lib/raduvuz' "$WORK/files" | sort >"$WORK/package-program-folder"
extra=$(comm -23 "$WORK/program-folder" "$WORK/package-program-folder")
[ -z "$extra" ] || fail "written into the program folder: $extra"
cmp -s /usr/lib/raduvuz/ColorsCMYK.map "$ROOT/packaging/ColorsCMYK.map" ||
    fail "the shipped map /usr/lib/raduvuz/ColorsCMYK.map was changed"
ok "nothing was written into /usr/lib/raduvuz by root's or $OPERATOR's runs; the shipped map is unchanged"

echo "Purge"
if ! apt-get purge -y -q raduvuz >"$WORK/apt-purge.log" 2>&1; then
    cat "$WORK/apt-purge.log" >&2
    fail "apt-get purge raduvuz"
fi
known && fail "dpkg still knows raduvuz after the purge"
left=0
while read -r path; do
    if [ -d "$path" ] && [ ! -L "$path" ]; then
        # A folder stays only while another package has it.
        dpkg -S "$path" >/dev/null 2>&1 && continue
    fi
    if [ -e "$path" ] || [ -L "$path" ]; then
        echo "  left behind: $path" >&2
        left=1
    fi
done <"$WORK/files"
[ "$left" = 0 ] || fail "the purge left files of the package"
ok "apt-get purge raduvuz: none of the $(wc -l <"$WORK/files") paths is left (folders of other packages stay)"
[ -f "$OPDATA/ColorsCMYK.map" ] && [ -f "$OPDATA/Storage/Spot/1_1" ] ||
    fail "the purge took the operator's data in $OPDATA"
ok "the operator's data stays after the purge ($OPDATA: spot colour map, storage)"
echo "Package test passed"
