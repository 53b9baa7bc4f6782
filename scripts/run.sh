#!/usr/bin/env bash
# make run: a development build of the application against the local service and the tool
# stand-ins, in profile folders of its own, so nothing of this machine's own proxy settings is
# touched. With a display it shows the window, signed out: the local service starts empty, so a
# session kept from an earlier run is dropped (the rest of the profile stays). Without a display
# (or with --headless) it signs the demo account in, lets the application connect by itself,
# checks that a second start hands over to it and leaves it be, asks it to quit, checks that it
# left the machine as it found it, then kills a connected application with -9 and checks that
# the next start puts everything back. Exits non-zero when any check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
RUN_DIR=${ORVANE_RUN_DIR:-$ROOT/build-run}
DEMO_EMAIL=demo@orvane.dev
DEMO_PASSWORD=orvane-demo

headless=0
for arg in "$@"; do
    case $arg in
    --headless) headless=1 ;;
    *) echo "usage: $0 [--headless]" >&2; exit 2 ;;
    esac
done
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    headless=1
fi

scripts/install-deps.sh

# --- the build, its URLs pointing at a local service on a free port ---------------------------
port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
mkdir -p "$RUN_DIR"
port=$(cat "$RUN_DIR/service-port" 2>/dev/null || echo 18480)
tries=0
while port_in_use "$port"; do
    port=$((port + 1)); tries=$((tries + 1))
    if [ $tries -gt 200 ]; then echo "no free port for the local service" >&2; exit 1; fi
done
echo "$port" > "$RUN_DIR/service-port"
BASE=http://127.0.0.1:$port
PROBE=$BASE/generate_204
TOOLS=$RUN_DIR/tools/bin

cmake -S . -B "$RUN_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORVANE_API_BASE_URL_1="$BASE/api" -DORVANE_API_BASE_URL_2="$BASE/api" \
    -DORVANE_API_BASE_URL_3="$BASE/api" -DORVANE_WEB_BASE_URL="$BASE" \
    -DORVANE_PROBE_WEB_URLS="$PROBE;$PROBE" \
    -DORVANE_PROBE_AI_URLS="$PROBE;$PROBE;$PROBE;$PROBE" \
    -DORVANE_TOOLS_DIRECTORY="$TOOLS" ${CMAKE_ARGS:-} >/dev/null
cmake --build "$RUN_DIR" -j "$(nproc)" \
    --target orvane orvane-dev-service macos-standin sing-box-standin
APP=$RUN_DIR/src/ui/orvane

# --- profile folders: the application's and the stand-ins' ------------------------------------
if [ $headless -eq 1 ]; then
    PROFILE=$RUN_DIR/profile-headless
    rm -rf "$PROFILE"
else
    PROFILE=$RUN_DIR/profile
fi
LOGS=$PROFILE/logs
mkdir -p "$PROFILE"/{home,config,data,cache,state,standins} "$LOGS"
chmod 700 "$PROFILE"
real_home=$HOME
export HOME=$PROFILE/home XDG_CONFIG_HOME=$PROFILE/config XDG_DATA_HOME=$PROFILE/data
export XDG_CACHE_HOME=$PROFILE/cache XDG_STATE_HOME=$PROFILE/state
export ORVANE_FAKE_TOOLS_HOME=$PROFILE/standins
unset ORVANE_FAKE_ADMIN
if [ $headless -eq 1 ]; then
    mkdir -p "$PROFILE/runtime" && chmod 700 "$PROFILE/runtime"
    export XDG_RUNTIME_DIR=$PROFILE/runtime QT_QPA_PLATFORM=offscreen
elif [ -z "${XAUTHORITY:-}" ] && [ -f "$real_home/.Xauthority" ]; then
    # The display's credentials stay where the session keeps them.
    export XAUTHORITY=$real_home/.Xauthority
fi
PREFERENCES=$XDG_CONFIG_HOME/Orvane/preferences.json
if [ $headless -eq 0 ] && [ -f "$PREFERENCES" ] &&
    jq -e 'has("orvane.sessionToken")' "$PREFERENCES" >/dev/null 2>&1; then
    # The service is new and knows no earlier session: a kept token would only greet the user
    # with an expired sign-in.
    (umask 077 && jq 'del(."orvane.sessionToken")' "$PREFERENCES" >"$PREFERENCES.new")
    mv "$PREFERENCES.new" "$PREFERENCES"
fi

# --- the local service ------------------------------------------------------------------------
service_pid=
app_pid=
cleanup() {
    if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill -9 "$app_pid" 2>/dev/null || true; fi
    for pid in $(sing_box_pids); do kill -9 "$pid" 2>/dev/null || true; done
    if [ -n "$service_pid" ]; then kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
# Only the stand-in of this run: its command line names this run's build folder.
sing_box_pids() { ps -eo pid=,args= | awk -v exe="$TOOLS/sing-box" '$2 == exe { print $1 }'; }

"$RUN_DIR/tools/dev-service/orvane-dev-service" --port "$port" >"$LOGS/service.out" 2>"$LOGS/service.log" &
service_pid=$!
for _ in $(seq 100); do
    curl -sf "$BASE/__dev/requests" >/dev/null && break
    kill -0 "$service_pid" 2>/dev/null || { cat "$LOGS/service.log" >&2; exit 1; }
    sleep 0.1
done
echo "Local service on $BASE"

if [ $headless -eq 0 ]; then
    echo "Sign in with the demo account: $DEMO_EMAIL / $DEMO_PASSWORD"
    echo "Profile: $PROFILE"
    status=0
    "$APP" || status=$?
    exit $status
fi

# --- headless: the main job, then a kill -9 and the next start --------------------------------
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }

# Which proxies the system uses, service by service. Switching a proxy off leaves its last
# server and port in place, as the system itself does; only whether it is on counts.
proxy_settings() {
    "$TOOLS/networksetup" -listallnetworkservices | tail -n +2 | sed 's/^\*//' |
        while IFS= read -r service; do
            for verb in getwebproxy getsecurewebproxy getsocksfirewallproxy; do
                echo "$service $verb $("$TOOLS/networksetup" "-$verb" "$service" | grep '^Enabled:')"
            done
        done
}
connected_reports() {
    curl -sf "$BASE/__dev/requests" | jq '[.requests[]
        | select(.method == "POST" and .path == "/api/client/connection-report")
        | .body | fromjson | select(.status == "connected")] | length'
}
# Waits up to $1 seconds for the command to succeed, while the application still runs.
wait_for() {
    local limit=$1; shift
    local deadline=$((SECONDS + limit))
    until "$@"; do
        if [ $SECONDS -ge $deadline ]; then return 1; fi
        if [ -n "$app_pid" ] && ! kill -0 "$app_pid" 2>/dev/null; then return 1; fi
        sleep 0.2
    done
}
start_app() {
    "$APP" "$@" >>"$LOGS/orvane.log" 2>&1 &
    app_pid=$!
}
# SIGTERM and the hand-shake; prints how long the application took to go.
stop_app() {
    local started=$EPOCHREALTIME status=0
    kill -TERM "$app_pid"
    for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$app_pid" 2>/dev/null; then
        fail "the application was still running 10 s after SIGTERM"
        kill -9 "$app_pid"
    fi
    wait "$app_pid" || status=$?
    app_pid=
    local ms=$(( (${EPOCHREALTIME/./} - ${started/./}) / 1000 ))
    echo "application ended with status $status ${ms} ms after SIGTERM"
    [ $status -eq 0 ] || fail "exit status $status after SIGTERM"
}
reports_at_least() { [ "$(connected_reports)" -ge "$1" ]; }
no_sing_box() { [ -z "$(sing_box_pids)" ]; }
settings_restored() { [ "$(proxy_settings)" = "$before" ]; }

before=$(proxy_settings)

echo "== Sign in $DEMO_EMAIL through the service"
answer=$(curl -sf -X POST -H 'Content-Type: application/json' \
    -d "{\"identity\":\"$DEMO_EMAIL\",\"password\":\"$DEMO_PASSWORD\"}" "$BASE/api/auth/login")
token=$(jq -r '.token // empty' <<<"$answer")
[ -n "$token" ] || { echo "sign-in failed: $answer"; exit 1; }
# Where the application keeps its session: one JSON object, 0600, in a 0700 folder.
mkdir -p "$XDG_CONFIG_HOME/Orvane" && chmod 700 "$XDG_CONFIG_HOME/Orvane"
(umask 077 && jq -n --arg t "$token" '{"orvane.sessionToken": $t}' >"$XDG_CONFIG_HOME/Orvane/preferences.json")

echo "== orvane --orvane-autoconnect-smoke (offscreen)"
start_app --orvane-autoconnect-smoke
if wait_for 90 reports_at_least 1; then
    ok "the service received the \"connected\" report"
else
    fail "no \"connected\" report within 90 s"
fi
[ "$(proxy_settings)" != "$before" ] && ok "while connected the system proxy points at the local proxy" \
    || fail "the system proxy did not change while connected"
[ -n "$(sing_box_pids)" ] && ok "sing-box runs while connected" || fail "no sing-box while connected"

echo "== a second start while the first runs"
settings_before_second=$(proxy_settings)
sing_box_before_second=$(sing_box_pids)
second_status=0
timeout 30 "$APP" >>"$LOGS/orvane-second.log" 2>&1 || second_status=$?
[ $second_status -eq 0 ] && ok "the second start handed over and ended with status 0" \
    || fail "the second start ended with status $second_status"
kill -0 "$app_pid" 2>/dev/null && ok "the first instance still runs" || fail "the first instance is gone"
[ "$(sing_box_pids)" = "$sing_box_before_second" ] && ok "its sing-box runs on untouched" \
    || fail "sing-box changed: before $sing_box_before_second, now $(sing_box_pids)"
[ "$(proxy_settings)" = "$settings_before_second" ] && ok "the proxy settings are untouched" \
    || fail "the proxy settings changed during the second start"
stop_app

echo "== Request log"
curl -sf "$BASE/__dev/requests" | jq -r '.requests[] | "\(.method) \(.path)" +
    (if .path == "/api/client/connection-report" then " (" + (.body | fromjson | .status) + ")"
     else "" end)' | uniq -c

echo "== Outcome"
if [ "$(connected_reports)" -ge 1 ]; then ok "connected through $(jq -r '.requests | length' \
    <<<"$(curl -sf "$BASE/__dev/requests")") requests"; fi
wait_for 60 no_sing_box && ok "no sing-box remains" || fail "sing-box still running: $(sing_box_pids)"
settings_restored && ok "the stand-in's proxy settings are as before" \
    || { fail "proxy settings differ"; diff <(echo "$before") <(proxy_settings) || true; }

echo "== kill -9 while connected, then start again"
start_app --orvane-autoconnect-smoke
if wait_for 90 reports_at_least 2; then
    kill -9 "$app_pid"; wait "$app_pid" 2>/dev/null || true; app_pid=
    left=$(sing_box_pids)
    echo "killed while connected; left behind: sing-box ${left:-none}, proxy settings $(
        settings_restored && echo unchanged || echo 'pointing at the local proxy')"
    start_app
    if wait_for 60 eval 'no_sing_box && settings_restored'; then
        ok "the next start stopped the left sing-box and put the proxy settings back"
    else
        fail "after the restart: sing-box ${left:-none} / settings restored: $(settings_restored && echo yes || echo no)"
    fi
    stop_app
else
    fail "no second \"connected\" report within 90 s"
fi
wait_for 60 no_sing_box || fail "sing-box still running at the end: $(sing_box_pids)"
settings_restored || fail "proxy settings differ at the end"

echo "Logs: $LOGS"
if [ $failures -ne 0 ]; then
    echo "make run: $failures check(s) failed"
    exit 1
fi
echo "make run: all checks passed"
