#!/usr/bin/env bash
# One end-to-end scenario of the real program (see drive.py): a database of its own, a
# virtual screen, a D-Bus session with the accessibility bus, then the driver.
#
#   run_e2e.sh window|signals|grid PROGRAM PROFILE
#
# PROGRAM must be a build that reads its profile from PROFILE. The database lives on the
# server TW_TEST_FB_SERVER names (scripts/test starts one); without it, on a private
# server started here, so that isql-fb can read the file while the program has it open.
set -euo pipefail

[[ $# -eq 3 ]] || { echo "usage: $0 window|signals|grid PROGRAM PROFILE" >&2; exit 2; }
scenario=$1 program=$2 profile=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)

die() { echo "e2e: $*" >&2; exit 1; }

for tool in Xvfb xdotool dbus-run-session isql-fb; do
    command -v "$tool" >/dev/null || die "$tool is missing; run scripts/setup"
done
# Debian's interpreter, whatever python comes first on the PATH: pyatspi is its package.
python=/usr/bin/python3
"$python" -c 'import pyatspi' 2>/dev/null || die "$python cannot import pyatspi; run scripts/setup"

work=$(mktemp -d /tmp/tw-e2e.XXXXXX)
xvfb_pid=
own_server=
database=
# shellcheck disable=SC2317 # called from the trap
cleanup() {
    set +e # every step is tried, whatever the one before did
    # Waited for: an X server still on its way out removes the socket of the display
    # number that the next one may already have taken.
    [[ -n $xvfb_pid ]] && { kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; }
    if [[ -n $database ]]; then
        isql-fb -q -user SYSDBA -password plumbtide "$database" <<<"drop database;" \
            >/dev/null 2>&1 || true
    fi
    [[ -n $own_server ]] && bash "$repo/scripts/fbserver" stop "$work/fb"
    rm -rf "$work"
}
trap cleanup EXIT

server=${TW_TEST_FB_SERVER:-}
if [[ -z $server ]]; then
    [[ -z ${TW_TEST_REQUIRE_SERVER:-} ]] ||
        die "TW_TEST_FB_SERVER is not set although the test script runs the tests"
    own_server=1
    server=localhost/$(bash "$repo/scripts/fbserver" start "$work/fb")
    eval "$(bash "$repo/scripts/fbserver" env "$work/fb")"
fi
file=${TW_TEST_DB_DIR:-$work}/e2e-$scenario-$$.fdb
address=$server:$file

# Users with Japanese full names and mixed login states, one of them with no state.
isql-fb -q -ch UTF8 -b >"$work/create.log" 2>&1 <<EOF || { cat "$work/create.log" >&2; die "could not create $address"; }
create database '$address' user 'SYSDBA' password 'plumbtide'
    page_size 8192 default character set UTF8;
create table USER_REGISTRY (
    user_name varchar(31) not null primary key,
    name varchar(60),
    user_log_in smallint,
    department varchar(40)
);
insert into USER_REGISTRY values ('tanaka', '田中 太郎', 1, '営業部');
insert into USER_REGISTRY values ('suzuki', '鈴木 花子', 1, '総務部');
insert into USER_REGISTRY values ('sato', '佐藤 健', 0, '経理部');
insert into USER_REGISTRY values ('takahashi', '高橋 美咲', 1, '開発部');
insert into USER_REGISTRY values ('ito', '伊藤 由美', null, null);
insert into USER_REGISTRY values ('hasegawa', '長谷川 智子', 0, '開発部');
commit;
EOF
database=$address

mkdir -p "$(dirname "$profile")"

# -noreset: by default the server starts over whenever its last client leaves, and a
# client connecting just then is turned away (seen while the accessibility bus came up).
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for ((i = 0; i < 100; i++)); do
    [[ -s $work/display ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
done
[[ -s $work/display ]] || { cat "$work/xvfb.log" >&2; die "Xvfb did not start"; }
DISPLAY=:$(cat "$work/display")
export DISPLAY

# The session bus starts the accessibility bus when the program asks for it. The
# daemons' chatter is left out of what the test shows.
rc=0
dbus-run-session -- "$python" "$here/drive.py" "$scenario" --program "$program" \
    --profile "$profile" --database "$address" --work "$work" >"$work/session.log" 2>&1 || rc=$?
grep -v -e '^dbus-daemon\[' -e '^SpiRegistry daemon' "$work/session.log" || true
if ((rc != 0)); then
    kill -0 "$xvfb_pid" 2>/dev/null || echo "e2e: the virtual screen (Xvfb on $DISPLAY) has gone" >&2
    for log in "$work"/*.log; do
        [[ $log == */session.log ]] && continue
        echo "--- $(basename "$log")" >&2
        cat "$log" >&2
    done
fi
exit "$rc"
