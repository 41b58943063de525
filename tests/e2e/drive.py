"""Operates the real logout window as a person would and checks what it shows.

Run by run_e2e.sh inside a D-Bus session on a virtual screen, with Debian's own
/usr/bin/python3 (pyatspi is a Debian package). The pointer and the keyboard go through
xdotool; what the window shows (captions, boxes, the grid's cells) is read through the
accessibility interface; what the database holds is read over a connection of its own
with isql-fb.

    drive.py window|signals|grid --program P --profile INI --database ADDRESS --work DIR

P reads its profile from INI; ADDRESS is the database the profile is to name; DIR takes
the program's output.
"""

import argparse
import os
import signal
import subprocess
import sys
import time

import pyatspi
from gi.repository import Atspi, GLib

WINDOW_TITLE = "ログアウト処理"
BOX_TITLE = "Tarnwick"
USER = "SYSDBA"
PASSWORD = "plumbtide"
# Generous bounds for a loaded 2-core machine; nothing here measures speed.
WAIT = 15.0


class Failure(Exception):
    """The test has failed; the message says what was expected and what was seen."""


class Transient(Exception):
    """What was read was caught half-way through a change; poll() reads again."""


STARTED = time.monotonic()


def step(text):
    print(f"e2e: [{time.monotonic() - STARTED:5.1f} s] {text}", flush=True)


def pump_events():
    """Hands the accessibility events that have arrived to their listeners."""
    context = GLib.MainContext.default()
    while context.iteration(False):
        pass


def poll(what, probe, timeout=WAIT, explain=None):
    """Calls probe() until it returns something true; fails naming `what` after timeout.

    explain() describes what was seen instead, for the failure message."""
    deadline = time.monotonic() + timeout
    error = None
    while True:
        try:
            result = probe()
            if result:
                return result
        except (GLib.Error, Transient) as e:  # the window changed under the call
            error = e
        pump_events()
        if time.monotonic() > deadline:
            seen = ""
            if explain is not None:
                try:
                    seen = f"; saw: {explain()}"
                except (GLib.Error, Transient) as e:
                    seen = f"; could not look: {e}"
            if error is not None:
                seen += f"; last error: {error}"
            raise Failure(f"no {what} within {timeout:.0f} s{seen}")
        time.sleep(0.05)


def xdotool(*args):
    # xdotool matches a Japanese window title only in the C locale.
    env = dict(os.environ, LC_ALL="C")
    done = subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True)
    if done.returncode != 0:
        raise Failure(f"xdotool {' '.join(args)} failed: {done.stderr.strip()}")
    return done.stdout


class Database:
    """The test database, read over a connection of its own."""

    def __init__(self, address):
        self.address = address

    def query(self, sql):
        script = f"set heading off;\n{sql};\n"
        done = subprocess.run(
            ["isql-fb", "-q", "-ch", "UTF8", "-user", USER, "-password", PASSWORD,
             self.address], input=script, capture_output=True, text=True)
        if done.returncode != 0 or done.stderr.strip():
            raise Failure(f"isql-fb failed on {sql!r}: {done.stderr.strip()}")
        return [line.strip() for line in done.stdout.splitlines() if line.strip()]

    def users(self):
        """user_name -> (name, user_log_in) as the grid shows them (NULL as empty)."""
        rows = self.query("select user_name || '|' || coalesce(name, '') || '|' ||"
                          " coalesce(user_log_in, '') from USER_REGISTRY")
        result = {}
        for row in rows:
            user, name, state = row.split("|")
            result[user] = (name, state)
        return result

    def attachments_of(self, pid):
        return int(self.query("select count(*) from MON$ATTACHMENTS"
                              f" where MON$REMOTE_PID = {pid}")[0])


class Program:
    """One run of the program and the window it shows."""

    def __init__(self, path, log_path):
        env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        self.log_path = log_path
        self.log = open(log_path, "w")
        self.process = subprocess.Popen([path], env=env, stdout=self.log,
                                        stderr=subprocess.STDOUT)
        self.pid = self.process.pid
        try:
            self.app = poll("accessible application of the program", self._find_app,
                            explain=self._output)
            # Every read goes to the program: a cached caption would hide a change.
            self.app.set_cache_mask(Atspi.Cache.NONE)
            self.window = poll(f"window titled {WINDOW_TITLE!r}", self._find_window,
                               explain=self._output)
            self.x_window = poll(f"X window titled {WINDOW_TITLE!r}",
                                 lambda: self._x_window(WINDOW_TITLE))
        except BaseException:
            self.kill()
            raise

    def _output(self):
        if not self.log.closed:
            self.log.flush()
        with open(self.log_path) as f:
            return f.read().strip() or "(no output)"

    def _find_app(self):
        if self.process.poll() is not None:
            raise Failure(f"the program ended with {self.process.returncode}: "
                          f"{self._output()}")
        for app in pyatspi.Registry.getDesktop(0):
            try:
                if app is not None and app.get_process_id() == self.pid:
                    return app
            except GLib.Error:  # an earlier run that is gone but still listed
                continue
        return None

    def _top_levels(self):
        return [child for child in self.app if child is not None]

    def _find_window(self):
        for child in self._top_levels():
            if child.name == WINDOW_TITLE:
                return child
        return None

    @staticmethod
    def _x_window(title):
        try:
            found = xdotool("search", "--onlyvisible", "--name", f"^{title}$").split()
        except Failure:  # xdotool fails a search that finds nothing
            return None
        return found[0] if found else None

    # --- reading -----------------------------------------------------------------------

    def control(self, name):
        """The control with accessible name `name`, looked up anew on every call."""

        def find(node):
            for child in node:
                if child is None:
                    continue
                if child.name == name:
                    return child
                if child.getRole() != pyatspi.ROLE_TABLE:  # cells are not controls
                    found = find(child)
                    if found is not None:
                        return found
            return None

        found = find(self.window)
        if found is None:
            raise Failure(f"the window has no control named {name!r}")
        return found

    def enabled(self, name):
        return self.control(name).getState().contains(pyatspi.STATE_ENABLED)

    def text(self, name):
        text = self.control(name).queryText()
        return text.getText(0, text.characterCount)

    def box(self):
        """(title, text) of the message box on screen, or None."""
        for child in self._top_levels():
            if child.getRole() in (pyatspi.ROLE_ALERT, pyatspi.ROLE_DIALOG):
                labels = [c.name for c in child if c is not None and
                          c.getRole() == pyatspi.ROLE_LABEL and c.name]
                return child.name, "\n".join(labels)
        return None

    def grid(self):
        """The grid's header captions and rows, each row a tuple of shown texts."""
        table = self.control("DBGrid1").queryTable()

        def name(cell):
            if cell is None:  # the rows changed between counting and reading them
                raise Transient("a grid cell vanished while being read")
            return cell.name

        headers = [name(table.getColumnHeader(c)) for c in range(table.nColumns)]
        rows = [tuple(name(table.getAccessibleAt(r, c)) for c in range(table.nColumns))
                for r in range(table.nRows)]
        return headers, rows

    # --- operating ---------------------------------------------------------------------

    def click(self, name):
        """Clicks the middle of the control as it sits on the screen."""
        self._click_on(self.control(name))

    def click_cell(self, row, column):
        """Clicks the middle of a grid cell, making its row the current one."""
        cell = self.control("DBGrid1").queryTable().getAccessibleAt(row, column)
        if cell is None:
            raise Failure(f"the grid has no cell ({row}, {column})")
        self._click_on(cell)

    def keys(self, *keys):
        """Presses keys (xdotool names, e.g. ctrl+Delete) in the window, one by one."""
        xdotool("windowfocus", "--sync", self.x_window)
        for key in keys:
            xdotool("key", key)

    def require_alive(self, after):
        if self.process.poll() is not None:
            raise Failure(f"the program ended with {self.process.returncode} after {after}: "
                          f"{self._output()}")

    def _click_on(self, accessible):
        extents = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        x = extents.x + extents.width // 2
        y = extents.y + extents.height // 2
        location = xdotool("getmouselocation", "--shell")
        # --sync waits for the pointer to move, which it does not when it is there already.
        if f"X={x}\nY={y}\n" not in location:
            xdotool("mousemove", "--sync", str(x), str(y))
        xdotool("click", "1")

    def type(self, text):
        # The keys go to the window with the focus; a person looks at the window first.
        xdotool("windowfocus", "--sync", self.x_window)
        xdotool("type", "--delay", "20", text)

    def expect_box(self, text):
        """Waits for a box saying `text` and answers it with Enter."""
        title, shown = poll(f"message box saying {text!r}", self.box,
                            explain=lambda: f"no box; program output: {self._output()}")
        if (title, shown) != (BOX_TITLE, text):
            raise Failure(f"expected a box {BOX_TITLE!r} saying {text!r}, "
                          f"got {title!r} saying {shown!r}")
        box_window = poll("X window of the message box", lambda: self._x_window(BOX_TITLE))
        xdotool("windowfocus", "--sync", box_window)
        xdotool("key", "Return")
        poll("message box to close after Enter", lambda: self.box() is None)

    def expect_no_box(self):
        shown = self.box()
        if shown is not None:
            raise Failure(f"unexpected box {shown[0]!r} saying {shown[1]!r}")

    def signal(self, number):
        self.process.send_signal(number)

    def wait_end(self, why):
        """Waits for the program to end on its own; returns its exit status."""
        poll(f"end of the program {why}", lambda: self.process.poll() is not None,
             explain=lambda: "it is still running")
        self.log.close()
        return self.process.returncode

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.log.close()


def write_profile(path, database):
    with open(path, "w", encoding="utf-8") as f:
        f.write(f"[FBDOCUMENTCONNECTION]\nDatabase={database}\n"
                f"User_Name={USER}\nPassword={PASSWORD}\n")


def grid_users(program):
    return {row[0]: (row[1], row[2]) for row in program.grid()[1]}


def connect(program, database):
    program.click("①接続")
    program.expect_box("データベースに接続しました")
    poll("database path in the path box", lambda: program.text("DatabaseNameEdit") == database,
         explain=lambda: repr(program.text("DatabaseNameEdit")))


def list_users(program, db):
    program.click("②ユーザー一覧")
    expected = db.users()
    poll("grid showing every user of USER_REGISTRY", lambda: grid_users(program) == expected,
         explain=lambda: f"grid {grid_users(program)} vs database {expected}; "
                         f"box {program.box()}")


def enter_user_name(program, name):
    program.click("EditUserName")
    # A click into the box clears it, ready for the name.
    poll("empty user name box after the click", lambda: program.text("EditUserName") == "",
         explain=lambda: repr(program.text("EditUserName")))
    program.type(name)
    poll(f"user name box reading {name!r}", lambda: program.text("EditUserName") == name,
         explain=lambda: repr(program.text("EditUserName")))


def window_scenario(args, db, work):
    if os.path.exists(args.profile):
        os.remove(args.profile)
    program = Program(args.program, os.path.join(work, "window.log"))
    try:
        step("no profile: ①接続 shows the file it looked for")
        if program.enabled("②ユーザー一覧") or program.enabled("④ログアウト処理"):
            raise Failure("②ユーザー一覧 and ④ログアウト処理 must wait for a connection")
        program.click("①接続")
        program.expect_box(f"ドライバ/接続レジストリファイル '{args.profile}' が見つかりません.")
        if program.text("DatabaseNameEdit") != "" or program.enabled("②ユーザー一覧"):
            raise Failure("a failed connect must leave the window as it was")

        step("profile written: ①接続 connects, ②ユーザー一覧 lists")
        write_profile(args.profile, args.database)
        connect(program, args.database)
        list_users(program, db)
        headers = program.grid()[0]
        if headers != ["ユーザー名", "本名", "ログ状態"]:
            raise Failure(f"grid headers {headers}")

        before = db.users()
        target = next(user for user, (_, state) in sorted(before.items()) if state == "1")
        step(f"④ログアウト処理 for {target}")
        enter_user_name(program, target)
        program.click("④ログアウト処理")
        poll(f"grid showing {target} logged out",
             lambda: grid_users(program).get(target, ("", ""))[1] == "0",
             explain=lambda: f"grid row {grid_users(program).get(target)}; box {program.box()}")
        program.expect_no_box()
        after = db.users()
        expected = dict(before, **{target: (before[target][0], "0")})
        if after != expected:
            raise Failure(f"database after the logout: {after}, expected {expected}")
        if grid_users(program) != after:
            raise Failure(f"grid {grid_users(program)} differs from database {after}")

        step("④ログアウト処理 for an unknown name")
        enter_user_name(program, "nobody")
        program.click("④ログアウト処理")
        program.expect_box("ユーザー名が違います")
        if db.users() != after:
            raise Failure(f"an unknown name changed the database: {db.users()}")

        step("終了 ends the program")
        program.click("終了")
        status = program.wait_end("after 終了")
        if status != 0:
            raise Failure(f"the program ended with status {status} after 終了")
    finally:
        program.kill()


SCREEN_READER_EVENTS = (
    "focus:", "object:state-changed", "object:children-changed",
    "object:active-descendant-changed", "object:property-change", "object:selection-changed",
    "object:text-changed", "object:text-caret-moved", "object:visible-data-changed",
    "object:row-inserted", "object:row-deleted", "object:model-changed", "window:")


def grid_scenario(args, db, work):
    """Grid keys that insert, cancel and delete rows while the accessibility bridge reads
    every change: the program must live through them and the database stay as it was,
    except for the one logout asked for."""
    write_profile(args.profile, args.database)
    # Listen as a screen reader does: the program's bridge announces, and so reads, what
    # changes only for events somebody listens to.
    heard = []

    def listener(event):
        heard.append(event.type)
        try:  # and reads what the event names, as a screen reader would
            event.source.name
        except GLib.Error:  # gone by the time the event is handled
            pass

    pyatspi.Registry.registerEventListener(listener, *SCREEN_READER_EVENTS)
    program = Program(args.program, os.path.join(work, "grid.log"))

    def expect_grid(after, users, rows):
        program.require_alive(after)
        poll(f"grid of {rows} rows showing the users after {after}",
             lambda: len(program.grid()[1]) == rows and grid_users(program) == users,
             explain=lambda: f"grid {program.grid()[1]}; box {program.box()}")
        program.expect_no_box()
        program.require_alive(after)

    def expect_database(after, users):
        if db.users() != users:
            raise Failure(f"database after {after}: {db.users()}, expected {users}")

    try:
        connect(program, args.database)
        list_users(program, db)
        before = db.users()
        count = len(before)
        empty = ("", "")

        step("Insert, then Escape")
        program.click_cell(1, 0)
        program.keys("Insert")
        expect_grid("Insert", dict(before, **{"": empty}), count + 1)
        program.keys("Escape")
        expect_grid("Insert and Escape", before, count)

        step("Insert, then the navigator's refresh")
        program.keys("Insert")
        expect_grid("Insert", dict(before, **{"": empty}), count + 1)
        program.click("再表示")
        expect_grid("Insert and refresh", before, count)

        step("Down on the last row, then Escape")
        # The last row may lie below the grid's visible part; the keyboard gets there.
        program.click_cell(0, 1)
        program.keys("ctrl+End", "Down")
        expect_grid("Down on the last row", dict(before, **{"": empty}), count + 1)
        program.keys("Escape")
        expect_grid("Down on the last row and Escape", before, count)

        step("a cell edited and kept, then Ctrl+Delete of its row")
        edited = program.grid()[1][2]
        program.click_cell(2, 1)
        program.keys("x", "Return", "Down", "Up")
        changed = dict(before, **{edited[0]: ("x", edited[2])})
        expect_grid("editing a name", changed, count)
        program.keys("ctrl+Delete")
        program.expect_box("レコードを削除しますか?")
        gone = {user: shown for user, shown in before.items() if user != edited[0]}
        expect_grid("deleting the edited row", gone, count - 1)

        step("Insert, then Ctrl+Delete of the new row")
        program.keys("Insert")
        expect_grid("Insert", dict(gone, **{"": empty}), count)
        program.keys("ctrl+Delete")
        program.expect_box("レコードを削除しますか?")
        expect_grid("deleting the new row", gone, count - 1)
        expect_database("the grid's edits", before)

        step("②ユーザー一覧 drops the grid's changes; Insert, then ④ログアウト処理")
        list_users(program, db)
        target = next(user for user, (_, state) in sorted(before.items()) if state == "1")
        program.click_cell(0, 0)
        program.keys("Insert")
        expect_grid("Insert", dict(before, **{"": empty}), count + 1)
        enter_user_name(program, target)
        program.click("④ログアウト処理")
        logged_out = dict(before, **{target: (before[target][0], "0")})
        expect_grid("Insert and ④ログアウト処理", logged_out, count)
        expect_database("the logout", logged_out)

        step("終了 ends the program")
        program.click("終了")
        status = program.wait_end("after 終了")
        if status != 0:
            raise Failure(f"the program ended with status {status} after 終了")
        pump_events()
        step(f"{len(heard)} accessibility events heard")
    finally:
        pyatspi.Registry.deregisterEventListener(listener, *SCREEN_READER_EVENTS)
        program.kill()


def signals_scenario(args, db, work):
    write_profile(args.profile, args.database)
    for state in ("idle", "connected"):
        for number in (signal.SIGTERM, signal.SIGINT):
            name = signal.Signals(number).name
            step(f"{name} to a program that is {state}")
            program = Program(args.program, os.path.join(work, f"{state}-{name}.log"))
            try:
                if state == "connected":
                    # The list holds a second attachment; fbclient is loaded and has
                    # put its handlers on the signals by now.
                    connect(program, args.database)
                    list_users(program, db)
                    if db.attachments_of(program.pid) == 0:
                        raise Failure("the server knows no attachment of the program")
                sent = time.monotonic()
                program.signal(number)
                status = program.wait_end(f"after {name} (did fbclient's handler take it?)")
                # Reported, not judged: speed belongs to the benchmarks.
                step(f"ended {time.monotonic() - sent:.2f} s after {name}")
                if status != 0:
                    how = (f"was killed by {signal.Signals(-status).name}" if status < 0
                           else f"ended with status {status}")
                    raise Failure(f"after {name} the program {how}: {program._output()}")
                poll("server to see the program's attachments gone",
                     lambda: db.attachments_of(program.pid) == 0,
                     explain=lambda: f"{db.attachments_of(program.pid)} left")
            finally:
                program.kill()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=["window", "signals", "grid"])
    parser.add_argument("--program", required=True)
    parser.add_argument("--profile", required=True)
    parser.add_argument("--database", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()

    # A call into a program that hangs must end in a failure, not in a hung test.
    Atspi.set_timeout(5000, 15000)
    db = Database(args.database)
    try:
        {"window": window_scenario, "signals": signals_scenario,
         "grid": grid_scenario}[args.scenario](
            args, db, args.work)
    except Failure as failure:
        print(f"e2e: FAILED: {failure}", file=sys.stderr, flush=True)
        return 1
    step("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
