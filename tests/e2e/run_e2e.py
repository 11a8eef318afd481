#!/usr/bin/env python3
"""Whole-program checks: the real program under Xvfb with a window manager,
driven only from outside with real X input, checked by what a user sees
(window titles, pixels, what a screen reader is told) and keeps (the agenda
file's bytes); and natively on Wayland under a headless sway.

Usage: run_e2e.py --program PATH --shots FOLDER [--other PATH] [TestClass[.test] ...]
"""
import argparse
import ctypes
import datetime
import fcntl
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

PLACEHOLDER = "（文字列を削除すると、追加した日付が削除されます）".encode("cp932")
MAIN_TITLE = "スケジュール管理ツール"
# Control centres in the main window's client area, in pixels.
LIST_ITEM0 = (20, 18)
EDITOR = (300, 150)
BUTTON = {"add": (164, 342), "update": (248, 338), "backup": (440, 338), "about": (502, 338), "exit": (560, 338)}
ARGS = None
ENV = None


def x(*cmd, check=True):
    return subprocess.run(cmd, env=ENV, check=check, capture_output=True, text=True).stdout


def wait_for(predicate, timeout=5.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


def windows(title):
    return x("xdotool", "search", "--onlyvisible", "--name", "^" + re.escape(title) + "$", check=False).split()


def find_window(title, timeout=10.0):
    """The id of the visible window titled exactly `title`."""
    if not wait_for(lambda: windows(title), timeout):
        raise AssertionError("no window titled %r appeared" % title)
    return windows(title)[-1]


def window_gone(title, timeout=5.0):
    return wait_for(lambda: not windows(title), timeout)


def viewable(wid):
    return "IsViewable" in x("xwininfo", "-id", wid, check=False)


def activate(wid):
    """Gives the window the keyboard, as a click on it would."""
    for _ in range(3):
        x("xdotool", "windowactivate", "--sync", wid, check=False)
        if wait_for(lambda: x("xdotool", "getactivewindow", check=False).strip() == wid, 1.0):
            break
    time.sleep(0.1)


def click(wid, point):
    x("xdotool", "mousemove", "--window", wid, str(point[0]), str(point[1]), "click", "1")
    time.sleep(0.15)


def key(*keys):
    x("xdotool", "key", "--delay", "30", *keys)
    time.sleep(0.15)


def xdo(*commands):
    """Runs xdotool commands one after the other ("keydown shift", ...)."""
    for command in commands:
        x("xdotool", *command.split())
    time.sleep(0.2)


def type_text(text):
    x("xdotool", "type", "--delay", "20", text)
    time.sleep(0.1)


def answer(title, *keys, timeout=10.0):
    """Finds the window titled `title`, types `keys` into it and waits for it to go."""
    box = find_window(title, timeout)
    activate(box)
    key(*keys)
    assert window_gone(title), "%s stayed open" % title


def frame(wid):
    """The window's frame on screen, as (left, top, width, height)."""
    def extents():
        m = re.search(r"= (\d+), (\d+), (\d+), (\d+)", x("xprop", "-id", wid, "_NET_FRAME_EXTENTS", check=False))
        return tuple(int(v) for v in m.groups()) if m else None
    wait_for(lambda: extents() is not None, 2.0)
    left, right, top, bottom = extents()
    info = x("xwininfo", "-id", wid)
    ax, ay, w, h = (int(re.search(label + r":\s+(-?\d+)", info).group(1))
                    for label in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))
    return (ax - left, ay - top, w + left + right, h + top + bottom)


def grab(wid, rect):
    """The pixels of a rectangle of the window's client area."""
    return subprocess.run(["import", "-window", wid, "-crop", "%dx%d+%d+%d" % (rect[2], rect[3], rect[0], rect[1]),
                           "+repage", "rgb:-"], env=ENV, check=True, capture_output=True).stdout


def screenshot(wid, name):
    os.makedirs(ARGS.shots, exist_ok=True)
    x("import", "-window", wid, os.path.join(ARGS.shots, name))


def write_file(path, data):
    with open(path, "wb") as f:
        f.write(data)


def today_key():
    return datetime.date.today().strftime("%Y.%m.%d").encode()


class Program:
    """A copy of the program in a folder of its own; `agenda` may name the
    section {S}, which becomes the program's name."""

    def __init__(self, agenda=None, folder=None, exe_name=None, program=None):
        self.top = tempfile.mkdtemp(prefix="tavlo-e2e-").encode()
        self.dir = os.path.join(self.top, folder) if folder else self.top  # `folder`: bytes, any encoding
        if folder:
            os.mkdir(self.dir)
        self.name = exe_name or os.path.basename(program or ARGS.program)
        self.exe = os.path.join(self.dir, self.name.encode())
        shutil.copy2(program or ARGS.program, self.exe)
        self.stem = (self.name[:-4] if self.name.endswith(".txt") else self.name).encode()
        self.agenda = os.path.join(self.dir, self.stem + b".txt")
        if agenda is not None:
            write_file(self.agenda, self.file(agenda))
        self.runtime = os.path.join(self.top, b"runtime")
        os.mkdir(self.runtime, 0o700)
        self.procs = []

    def file(self, text):
        return text.replace(b"{S}", self.stem)

    def start(self, env=None, **overrides):
        """Starts a copy; `overrides` set variables, or unset those given None."""
        env = dict(env or ENV, XDG_RUNTIME_DIR=self.runtime)
        env.update(overrides)
        p = subprocess.Popen([self.exe], env={k: v for k, v in env.items() if v is not None},
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(p)
        return p

    def bytes(self):
        try:
            with open(self.agenda, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def close(self):
        for p in self.procs:
            if p.poll() is None:
                p.kill()
                p.wait()
        shutil.rmtree(self.top, ignore_errors=True)


class ProgramTestCase(unittest.TestCase):
    """Starts programs and closes every one a test started."""

    env = None

    def setUp(self):
        self.programs = []

    def tearDown(self):
        for prog in self.programs:
            prog.close()
        window_gone(MAIN_TITLE, 3)

    def launch(self, agenda=b"[{S}]\r\n2004.05.07=a\r\n", **kw):
        """(program, process, main window id), the window with the keyboard."""
        prog = Program(agenda, **kw)
        self.programs.append(prog)
        proc = prog.start(self.env)
        wid = find_window(MAIN_TITLE)
        activate(wid)
        return prog, proc, wid


class EndToEnd(ProgramTestCase):
    def test_first_start_adds_today(self):
        prog = Program()
        self.programs.append(prog)
        prog.start()
        screenshot(find_window("年月日追加"), "add-date-dialog.png")
        answer("年月日追加", "Return")
        self.assertTrue(wait_for(lambda: prog.bytes() is not None))
        self.assertEqual(prog.bytes(), prog.file(b"[{S}]\r\n" + today_key() + b"=" + PLACEHOLDER + b"\r\n"))
        # The Enter that closed the dialog does not open it again once its
        # release reaches the date list.
        time.sleep(0.5)
        self.assertTrue(window_gone("年月日追加", 0.1))

    def test_second_start_restores_minimised_window(self):
        """By the same program, then by the other build: one program to its users."""
        prog, first, wid = self.launch()
        second = [prog]
        if ARGS.other:
            second.append(Program(b"[{S}]\r\n2004.05.07=a\r\n", program=ARGS.other))
            self.programs.append(second[-1])
        for copy in second:
            x("xdotool", "windowminimize", "--sync", wid)
            self.assertTrue(wait_for(lambda: not viewable(wid)))
            stamp = os.stat(copy.agenda).st_mtime_ns
            started = time.monotonic()
            self.assertEqual(copy.start(XDG_RUNTIME_DIR=prog.runtime).wait(timeout=5), 0)
            self.assertLess(time.monotonic() - started, 1.5)
            self.assertTrue(wait_for(lambda: viewable(wid)), "the first window did not come back")
            self.assertIsNone(first.poll())
            self.assertEqual(os.stat(copy.agenda).st_mtime_ns, stamp)

    def test_simultaneous_starts_and_a_kill(self):
        """Of four simultaneous starts one runs; killed, it does not block the
        next start, which is then the running copy."""
        prog = Program(b"[{S}]\r\n2004.05.07=a\r\n")
        self.programs.append(prog)
        copies = [prog.start() for _ in range(4)]
        find_window(MAIN_TITLE)
        time.sleep(1.5)
        running = [p for p in copies if p.poll() is None]
        self.assertEqual(len(running), 1)
        self.assertEqual([p.returncode for p in copies if p not in running], [0, 0, 0])
        running[0].kill()
        running[0].wait()
        self.assertTrue([n for n in os.listdir(prog.runtime) if n.endswith(b".sock")], "no socket left behind")
        self.assertTrue(window_gone(MAIN_TITLE))
        after = prog.start()
        find_window(MAIN_TITLE)
        self.assertEqual(prog.start().wait(timeout=3), 0)
        self.assertIsNone(after.poll())

    def test_without_a_usable_runtime_folder(self):
        """The lock and socket then go to a private folder made in the
        temporary folder; one planted there by another user is left alone."""
        for situation in ["runtime folder too long for a socket", "runtime folder open to others", "no runtime folder",
                          "private folder made first by another user", "private folder planted as a link"]:
            with self.subTest(situation):
                planting = situation.startswith("private")
                if planting and os.getuid() != 0:
                    self.skipTest("needs root to act as another user")
                prog = Program(b"[{S}]\r\n2004.05.07=a\r\n")
                self.programs.append(prog)
                tmp, elsewhere = os.path.join(prog.top, b"tmp"), os.path.join(prog.top, b"elsewhere")
                planted = os.path.join(tmp, b"tavlo-%d" % os.getuid())
                os.mkdir(tmp)
                runtime = None
                if situation.endswith("socket"):
                    runtime = os.path.join(prog.top, b"r" * 100)
                    os.mkdir(runtime, 0o700)
                elif situation.endswith("others"):
                    runtime = prog.runtime
                    os.chmod(runtime, 0o755)
                elif situation.endswith("user"):
                    os.mkdir(planted)
                    os.chmod(planted, 0o777)
                    os.chown(planted, 65534, 65534)  # nobody
                elif situation.endswith("link"):
                    os.mkdir(elsewhere)
                    os.chown(elsewhere, 65534, 65534)
                    os.symlink(elsewhere, planted)
                # A planted folder sends the program to /tmp/tavlo-<uid>, which
                # every test run on this machine shares: runs take turns there.
                with open("/tmp/.tavlo-tests-fallback.lock", "w") as turn:
                    fcntl.flock(turn, fcntl.LOCK_EX)
                    first = prog.start(XDG_RUNTIME_DIR=runtime, TMPDIR=tmp)
                    find_window(MAIN_TITLE)
                    self.assertEqual(prog.start(XDG_RUNTIME_DIR=runtime, TMPDIR=tmp).wait(timeout=10), 0)
                    self.assertIsNone(first.poll())
                    self.assertEqual(bool(os.listdir(planted)), not planting)
                    if os.path.isdir(elsewhere):
                        self.assertEqual(os.listdir(elsewhere), [])
                    prog.close()
                    window_gone(MAIN_TITLE)

    def test_exit_question(self):
        prog, proc, wid = self.launch()
        click(wid, BUTTON["exit"])
        answer("終了確認", "Tab", "Return")  # いいえ, by Enter on the focused button
        time.sleep(0.3)
        self.assertIsNone(proc.poll())
        self.assertTrue(viewable(wid))
        # A close request from the window manager asks the same; Enter is Yes.
        x("wmctrl", "-i", "-c", wid)
        answer("終了確認", "Return")
        self.assertEqual(proc.wait(timeout=5), 0)
        self.assertEqual(prog.bytes(), prog.file(b"[{S}]\r\n2004.05.07=a\r\n"))

    def test_a_copy_that_does_not_answer_is_reported(self):
        prog = Program(b"[{S}]\r\n2004.05.07=a\r\n")
        self.programs.append(prog)
        key_hash = hashlib.sha1(MAIN_TITLE.encode()).hexdigest()[:16]
        with open(os.path.join(prog.runtime, b"tavlo-%d-%s.lock" % (os.getuid(), key_hash.encode())), "wb") as held:
            fcntl.flock(held, fcntl.LOCK_EX)  # held, and nobody listening
            proc = prog.start()
            answer("異常検出", "Return")
            self.assertEqual(proc.wait(timeout=5), 1)
            self.assertTrue(window_gone(MAIN_TITLE, 0.1))


MWM_FUNC_MINIMIZE, MWM_FUNC_MAXIMIZE = 0x08, 0x10
MWM_DECOR_MINIMIZE, MWM_DECOR_MAXIMIZE = 0x20, 0x40
MAXIMIZE_ACTIONS = {"_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT"}
LIST_ROW0_TOP_EDGE = (9, 13, 103, 1)  # inside the list's frame, which shows focus by itself
EDITOR_TOP_EDGE = (124, 36, 465, 3)
ADD_BUTTON_IN_DIALOG = (76, 56, 37, 21)


class RealInput(ProgramTestCase):
    """Keys, clicks and dialogs as a person meets them: modifiers as the X
    server reports them, focus as the window manager gives it, frames as it
    draws them."""

    def test_list_keys_with_a_modifier_do_nothing(self):
        prog, _, wid = self.launch(b"[{S}]\r\n2004.05.07=a\r\n2004.05.08=b\r\n")
        click(wid, LIST_ITEM0)
        before = prog.bytes()
        for name, commands in [
            ("Shift+Delete, Shift let go first", ["key shift+Delete"]),
            ("Ctrl+Delete", ["key ctrl+Delete"]),
            ("Alt+Delete", ["key alt+Delete"]),
            ("Delete let go while Shift is down", ["keydown shift", "key Delete", "keyup shift"]),
            ("Shift tapped while Delete is down", ["keydown Delete", "key shift", "keyup Delete"]),
            ("Shift+Enter", ["key shift+Return"]),
            ("Ctrl+Enter", ["key ctrl+Return"]),
        ]:
            with self.subTest(name):
                xdo(*commands)
                self.assertEqual(prog.bytes(), before)
                self.assertTrue(window_gone("年月日追加", 0.3))
        # The plain keys act (Enter on the keypad too), so the strokes above did reach the list.
        key("KP_Enter")
        answer("年月日追加", "Escape")
        key("Delete")
        self.assertTrue(wait_for(lambda: prog.bytes() == prog.file(b"[{S}]\r\n2004.05.08=b\r\n")))

    def test_editor_chords_need_ctrl_alone(self):
        prog, _, wid = self.launch(b"[{S}]\r\n2004.05.07=old\r\n")
        click(wid, EDITOR)
        key("ctrl+End")
        type_text("+")
        before = prog.bytes()
        for chord in ["ctrl+shift+s", "ctrl+alt+s"]:
            with self.subTest(chord):
                key(chord)
                self.assertEqual(prog.bytes(), before)
        key("ctrl+shift+a")  # no select-all: the next letter is added, not typed over
        type_text("Z")
        key("ctrl+s")
        self.assertTrue(wait_for(lambda: prog.bytes().endswith(b"=old+Z\r\n")), prog.bytes())
        key("ctrl+End", "ctrl+a")
        type_text("new")
        key("ctrl+s")
        self.assertTrue(wait_for(lambda: prog.bytes().endswith(b"=new\r\n")))

    def test_the_selected_date_stays_selected(self):
        prog, _, wid = self.launch(b"[{S}]\r\n2004.05.07=a\r\n2004.05.08=b\r\n")
        click(wid, LIST_ITEM0)
        memo = "a"
        for n, (name, way) in enumerate([
            ("a click below the dates", lambda: click(wid, (40, 300))),
            ("Ctrl+click on the selected date",
             lambda: xdo("mousemove --window %s %d %d" % ((wid,) + LIST_ITEM0), "keydown ctrl", "click 1", "keyup ctrl")),
            ("Ctrl+Space in the list", lambda: key("shift+Tab", "ctrl+space")),
        ]):
            with self.subTest(name):
                click(wid, EDITOR)
                key("ctrl+End")
                type_text(str(n))
                memo += str(n)
                way()
                click(wid, BUTTON["update"])
                self.assertTrue(wait_for(lambda: b"2004.05.07=" + memo.encode() + b"\r\n" in prog.bytes()),
                                "the edit was not saved after " + name)

    def test_enter_and_space_press_the_focused_button(self):
        prog, _, wid = self.launch()
        # From the list: the editor, 日付追加, サイズ変更, 別保存, ？, 終了 (更新 is
        # disabled and takes no focus).
        for name, tabs, press, title in [("？ by Enter", 5, "Return", "バージョン情報"),
                                         ("終了 by Enter", 6, "Return", "終了確認")]:
            with self.subTest(name):
                click(wid, LIST_ITEM0)
                key(*["Tab"] * tabs)
                key(press)
                screenshot(find_window(title, 3), "%s.png" % title)
                answer(title, "Escape")
        for name, tabs, press, adds in [("戻る by Enter", 4, "Return", False), ("追加 by Space", 3, "space", True)]:
            with self.subTest(name):
                click(wid, BUTTON["add"])
                answer("年月日追加", *(["Tab"] * tabs + [press]))
                time.sleep(0.2)
                self.assertEqual(today_key() in prog.bytes(), adds)

    def test_window_frames(self):
        def hints(wid):  # (functions, decorations) the program asked the window manager for
            fields = x("xprop", "-id", wid, "_MOTIF_WM_HINTS").split("=")[1].split(",")
            return int(fields[1], 16), int(fields[2], 16)

        def actions(wid):
            return set(re.findall(r"_NET_WM_ACTION_\w+", x("xprop", "-id", wid, "_NET_WM_ALLOWED_ACTIONS")))
        _, _, wid = self.launch()
        self.assertEqual(hints(wid)[0] & (MWM_FUNC_MINIMIZE | MWM_FUNC_MAXIMIZE), MWM_FUNC_MINIMIZE)
        self.assertFalse(MAXIMIZE_ACTIONS & actions(wid))
        main = frame(wid)
        for title, opener in [("年月日追加", "add"), ("バージョン情報", "about"), ("終了確認", "exit")]:
            with self.subTest(title):
                click(wid, BUTTON[opener])
                dialog = find_window(title)
                functions, decorations = hints(dialog)
                self.assertFalse(functions & (MWM_FUNC_MINIMIZE | MWM_FUNC_MAXIMIZE))
                self.assertFalse(decorations & (MWM_DECOR_MINIMIZE | MWM_DECOR_MAXIMIZE))
                self.assertFalse(MAXIMIZE_ACTIONS & actions(dialog))
                box = frame(dialog)
                for axis in (0, 1):  # frame centres, to the pixel
                    self.assertLessEqual(abs((2 * box[axis] + box[axis + 2]) - (2 * main[axis] + main[axis + 2])), 2)
                # A window manager that minimises it anyway gets it back at once.
                x("xdotool", "windowminimize", dialog)
                time.sleep(0.5)
                self.assertTrue(wait_for(lambda: viewable(dialog)), "the minimised dialog stayed hidden")
                answer(title, "Escape")

    def test_high_dpi_scales_the_whole_window(self):
        # Xvfb's screen claims 100 dots per inch; without Xft.dpi both builds
        # take 96, as desktops mean.
        for dpi, size in [(None, (600, 364)), (144, (900, 546)), (192, (1200, 728))]:
            with self.subTest(dpi=dpi):
                if dpi:
                    subprocess.run(["xrdb", "-merge"], input="Xft.dpi: %d\n" % dpi, text=True, env=ENV, check=True)
                try:
                    prog, _, wid = self.launch()
                    info = x("xwininfo", "-id", wid)
                    self.assertEqual(tuple(int(re.search(label + r":\s+(\d+)", info).group(1))
                                           for label in ("Width", "Height")), size)
                    screenshot(wid, "main-window-%sdpi.png" % (dpi or "no-"))
                finally:
                    subprocess.run(["xrdb", "-remove"], env=ENV, check=True)
                    prog.close()
                    window_gone(MAIN_TITLE, 3)

    def test_focus_is_drawn(self):
        _, _, wid = self.launch(b"[{S}]\r\n2004.05.07=a\r\n2004.05.08=b\r\n")
        click(wid, LIST_ITEM0)
        with self.subTest("the list's current date"):
            def colours():
                edge = grab(wid, LIST_ROW0_TOP_EDGE)
                return len({edge[i:i + 3] for i in range(0, len(edge), 3)})
            focused = colours()  # a dotted frame along the row's edge
            click(wid, EDITOR)
            self.assertGreater(focused, colours(), "no focus frame on the date that has the focus")
        with self.subTest("the editor with its whole text selected"):
            key("ctrl+a")
            focused = grab(wid, EDITOR_TOP_EDGE)
            screenshot(wid, "editor-focused.png")
            key("shift+Tab")
            self.assertNotEqual(grab(wid, EDITOR_TOP_EDGE), focused, "the focus does not show")
        with self.subTest("a focused button against the default button"):
            click(wid, BUTTON["add"])
            dialog = find_window("年月日追加")
            activate(dialog)
            default = grab(dialog, ADD_BUTTON_IN_DIALOG)
            key("Tab", "Tab", "Tab")
            screenshot(dialog, "add-button-focused.png")
            self.assertNotEqual(grab(dialog, ADD_BUTTON_IN_DIALOG), default, "focus looks like the default")
            key("Escape")


class ScreenReaders(ProgramTestCase):
    """What a screen reader is told, read over AT-SPI on a private session bus."""

    @classmethod
    def setUpClass(cls):
        if not (os.path.exists("/usr/libexec/at-spi-bus-launcher") and shutil.which("dbus-daemon")):
            raise unittest.SkipTest("needs at-spi2-core and dbus")
        bus = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"],
                             capture_output=True, text=True, check=True).stdout.split()
        cls.env = dict(ENV, DBUS_SESSION_BUS_ADDRESS=bus[0], QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        cls.bus_pid = int(bus[1])
        cls.launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], env=cls.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1)
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = bus[0]  # read once, when AT-SPI starts
        global pyatspi, GLib
        import pyatspi
        from gi.repository import GLib

    @classmethod
    def tearDownClass(cls):
        cls.launcher.terminate()
        cls.launcher.wait()
        os.kill(cls.bus_pid, 15)

    @staticmethod
    def describe(acc):
        relations = {pyatspi.relationToString(r.getRelationType()): [r.getTarget(i).name for i in range(r.getNTargets())]
                     for r in acc.getRelationSet()}
        return {"role": acc.getRoleName(), "name": acc.name, "relations": relations,
                "states": [pyatspi.stateToString(s) for s in acc.getState().getStates()]}

    def tree(self, prog):
        """Every object of the program's accessible tree."""
        desktop = pyatspi.Registry.getDesktop(0)
        apps = [desktop.getChildAtIndex(i) for i in range(desktop.childCount)]
        nodes, todo = [], [a for a in apps if a is not None and a.name == prog.name]
        while todo:
            acc = todo.pop()
            nodes.append(self.describe(acc))
            todo += [c for c in (acc.getChildAtIndex(i) for i in range(acc.childCount)) if c is not None]
        return nodes

    def focused_during(self, action, seconds=3):
        """What gains the focus while `action` runs."""
        gained = []
        listener = lambda e: e.detail1 and gained.append(self.describe(e.source))  # noqa: E731
        pyatspi.Registry.registerEventListener(listener, "object:state-changed:focused")
        GLib.timeout_add(300, lambda: action() and False)
        GLib.timeout_add(int(seconds * 1000), lambda: pyatspi.Registry.stop())
        pyatspi.Registry.start()
        pyatspi.Registry.deregisterEventListener(listener, "object:state-changed:focused")
        return gained

    def find(self, nodes, role, name):
        found = [n for n in nodes if n["role"] == role and n["name"] == name]
        self.assertTrue(found, "no %s %r in %s" % (role, name, [(n["role"], n["name"]) for n in nodes]))
        return found[0]

    def test_roles_states_and_relations(self):
        prog = Program()  # no dates: the add-date dialog opens
        self.programs.append(prog)
        prog.start(self.env)
        find_window("年月日追加")
        time.sleep(0.8)
        nodes = self.tree(prog)
        self.find(nodes, "frame", MAIN_TITLE)
        self.assertIn("modal", self.find(nodes, "dialog", "年月日追加")["states"])
        for unit in ("年", "月", "日"):
            with self.subTest(unit):
                self.assertEqual(self.find(nodes, "text", unit)["relations"].get("labelled by"), [unit])
        answer("年月日追加", "Escape")
        wid = find_window(MAIN_TITLE)
        activate(wid)
        click(wid, BUTTON["exit"])
        find_window("終了確認")
        time.sleep(0.3)
        self.assertIn("modal", self.find(self.tree(prog), "alert", "終了確認")["states"])

    def test_tabbing_into_the_list_names_the_date(self):
        prog, _, wid = self.launch(b"[{S}]\r\n2024.12.24=a\r\n2024.12.25=b\r\n")
        time.sleep(0.5)
        click(wid, EDITOR)
        focused = self.focused_during(lambda: key("shift+Tab"))
        self.assertIn(("list item", "2024.12.24"), [(f["role"], f["name"]) for f in focused])


class Wayland(ProgramTestCase):
    """Both programs natively on Wayland, under sway without a screen: a
    second start must bring the running copy's window forward, and Wayland
    lets that happen only with a token the compositor issued."""

    @classmethod
    def setUpClass(cls):
        if not shutil.which("sway"):
            raise unittest.SkipTest("needs sway")
        cls.user = 65534 if os.getuid() == 0 else None  # sway refuses to run as root
        cls.runtime = tempfile.mkdtemp(prefix="tavlo-sway-")
        # What KDE and GNOME do with a valid token; sway's default only marks the window.
        write_file(os.path.join(cls.runtime, "config"), b"xwayland disable\nfocus_on_window_activation focus\n")
        if cls.user is not None:
            os.chown(cls.runtime, cls.user, cls.user)
        cls.wl_env = {"PATH": "/usr/bin:/bin", "HOME": cls.runtime, "XDG_RUNTIME_DIR": cls.runtime, "LC_ALL": "C.UTF-8",
                      "WLR_BACKENDS": "headless", "WLR_LIBINPUT_NO_DEVICES": "1", "WLR_RENDERER": "pixman"}
        cls.sway = subprocess.Popen(cls.as_user(["sway", "-c", os.path.join(cls.runtime, "config")]), env=cls.wl_env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        cls.display = os.path.join(cls.runtime, "wayland-1")
        ipc = lambda: [n for n in os.listdir(cls.runtime) if n.startswith("sway-ipc.")]  # noqa: E731
        if not wait_for(lambda: os.path.exists(cls.display) and ipc(), 10):
            cls.tearDownClass()
            raise AssertionError("sway did not start")
        cls.wl_env["SWAYSOCK"] = os.path.join(cls.runtime, ipc()[0])

    @classmethod
    def tearDownClass(cls):
        cls.sway.terminate()
        cls.sway.wait()
        shutil.rmtree(cls.runtime, ignore_errors=True)

    @classmethod
    def as_user(cls, cmd):
        return cmd if cls.user is None else ["setpriv", "--reuid=%d" % cls.user, "--regid=%d" % cls.user,
                                             "--clear-groups"] + cmd

    def focused(self):
        """(app id, title) of the window with the keyboard, None for an empty workspace."""
        def walk(node):
            if node.get("focused"):
                return (node.get("app_id"), node.get("name")) if node.get("app_id") else None
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                found = walk(child)
                if found is not False:
                    return found
            return False
        return walk(json.loads(self.swaymsg("-t", "get_tree")))

    def swaymsg(self, *args):
        return subprocess.run(self.as_user(["swaymsg"] + list(args)), env=self.wl_env, capture_output=True,
                              text=True, check=True).stdout

    def start(self, prog):
        env = dict(self.wl_env, XDG_RUNTIME_DIR=prog.runtime, WAYLAND_DISPLAY=self.display, QT_QPA_PLATFORM="wayland")
        p = subprocess.Popen(self.as_user([prog.exe]), env=env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        prog.procs.append(p)
        return p

    def test_second_start_activates_the_running_copy(self):
        app_id = "org.example." + os.path.basename(ARGS.program)
        for agenda, title in [(b"[{S}]\r\n2004.05.07=a\r\n", MAIN_TITLE),
                              (None, "年月日追加")]:  # a first start opens the add-date dialog
            with self.subTest(title):
                prog = Program(agenda)
                self.programs.append(prog)
                if self.user is not None:
                    subprocess.run(["chown", "-R", "%d:%d" % (self.user, self.user), prog.top], check=True)
                self.start(prog)
                self.assertTrue(wait_for(lambda: self.focused() == (app_id, title), 10), self.focused())
                self.swaymsg("workspace", "2")
                self.assertTrue(wait_for(lambda: self.focused() is None, 5))
                second = self.start(prog)
                started = time.monotonic()
                self.assertEqual(second.wait(timeout=5), 0)
                self.assertLess(time.monotonic() - started, 1.5)
                self.assertTrue(wait_for(lambda: self.focused() == (app_id, title), 5),
                                "the keyboard stayed with %r" % (self.focused(),))
                prog.close()
                self.assertTrue(wait_for(lambda: self.focused() is None, 5))
                self.swaymsg("workspace", "1")


class Faults(ProgramTestCase):
    """The real program with files where people keep them; saves cut short
    or failing are the fault loop's (tests/faults)."""

    def test_folder_named_in_code_page_932(self):
        # The one check of the program's own path as the kernel gives it.
        prog, _, wid = self.launch(b"[{S}]\r\n2004.05.07=old\r\n", folder="日本語".encode("cp932"))
        click(wid, EDITOR)
        key("ctrl+End")
        type_text("+")
        key("ctrl+s")
        self.assertTrue(wait_for(lambda: prog.bytes().endswith(b"2004.05.07=old+\r\n")))
        click(wid, BUTTON["backup"])
        answer("処理完了", "Return")
        self.assertEqual(sorted(os.listdir(prog.top)), sorted([b"runtime", "日本語".encode("cp932")]))
        names = sorted(os.listdir(prog.dir))
        self.assertEqual(names[:2], sorted([prog.name.encode(), os.path.basename(prog.agenda)]))
        self.assertEqual(len(names), 3)
        with open(os.path.join(prog.dir, names[2]), "rb") as f:
            self.assertEqual(f.read(), prog.bytes())  # the backup copy

    def test_program_named_like_its_agenda_is_never_written(self):
        prog = Program(exe_name="notes.txt")
        self.programs.append(prog)
        with open(prog.exe, "rb") as f:
            program = f.read()
        prog.start()
        answer("年月日追加", "Return")
        answer("異常検出", "Return")
        with open(prog.exe, "rb") as f:
            self.assertEqual(f.read(), program)


class Installed(unittest.TestCase):
    """The unpacked package, as /usr/local on a scratch file system in a
    mount namespace of the test's own (the machine's /usr is never touched),
    started by a second real user and by root: each keeps the agenda under
    XDG_DATA_HOME, nothing is written beside the program. Needs root."""

    USER = 4242  # by number: nothing is added to the machine's user list

    @classmethod
    def setUpClass(cls):
        if not ARGS.installed or os.geteuid() != 0:
            raise unittest.SkipTest("needs --installed and root")
        libc = ctypes.CDLL(None, use_errno=True)
        if libc.unshare(0x00020000) != 0:  # CLONE_NEWNS
            raise unittest.SkipTest("no mount namespace: %s" % os.strerror(ctypes.get_errno()))
        subprocess.run(["mount", "--make-rprivate", "/"], check=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=0755", "tavlo-usr-local", "/usr/local"], check=True)
        subprocess.run(["cp", "-a", os.path.join(ARGS.installed, "usr", "."), "/usr/local/"], check=True)
        cls.name = os.path.basename(ARGS.program)
        cls.exe = os.path.join("/usr/local/bin", cls.name)

    def setUp(self):
        self.top = tempfile.mkdtemp(prefix="tavlo-installed-")
        os.chmod(self.top, 0o755)
        self.procs = []
        self.system = sorted(os.listdir("/usr/local/bin"))
        self.homes = {uid: self.make_home(uid) for uid in (0, self.USER)}

    def tearDown(self):
        for p in self.procs:
            p.kill()
            p.wait()
        window_gone(MAIN_TITLE, 3)
        for extra in set(os.listdir("/usr/local/bin")) - set(self.system):
            os.remove(os.path.join("/usr/local/bin", extra))
        shutil.rmtree(self.top, ignore_errors=True)

    def make_home(self, uid):
        home = os.path.join(self.top, "home-%d" % uid)
        os.makedirs(os.path.join(home, "runtime"))
        for path in (home, os.path.join(home, "runtime")):
            os.chown(path, uid, uid)
            os.chmod(path, 0o700)
        return home

    def start(self, uid, exe=None):
        env = dict(ENV, HOME=self.homes[uid], XDG_RUNTIME_DIR=os.path.join(self.homes[uid], "runtime"))
        env.pop("XDG_DATA_HOME", None)
        user = ["setpriv", "--reuid=%d" % uid, "--regid=%d" % uid, "--clear-groups", "--"] if uid else []
        self.procs.append(subprocess.Popen(user + [exe or self.exe], env=env, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL))

    def own(self, uid):
        return os.path.join(self.homes[uid], ".local/share/tavlo/usr/local/bin", self.name + ".txt")

    def entry(self, memo):
        return b"[" + self.name.encode() + b"]\r\n2004.05.07=" + memo + b"\r\n"

    def read(self, path):
        return open(path, "rb").read() if os.path.exists(path) else None

    def save_edit(self, text):
        """Adds `text` to the first date's memo and saves it."""
        wid = find_window(MAIN_TITLE)
        activate(wid)
        click(wid, LIST_ITEM0)
        click(wid, EDITOR)
        key("ctrl+End")
        type_text(text)
        key("ctrl+s")
        return wid

    def test_first_start_then_an_interrupted_save(self):
        for uid in (self.USER, 0):
            self.start(uid)
            answer("年月日追加", "Return")
            self.assertTrue(wait_for(lambda: self.read(self.own(uid)) is not None))
            self.assertEqual(os.stat(self.own(uid)).st_uid, uid)
            self.assertEqual(os.stat(os.path.dirname(self.own(uid))).st_mode & 0o777, 0o700)
            self.assertEqual(sorted(os.listdir("/usr/local/bin")), self.system)
            self.procs.pop().kill()
            window_gone(MAIN_TITLE, 3)
        own = self.own(self.USER)
        write_file(own + ".saving", b"whole old content")
        os.chown(own + ".saving", self.USER, self.USER)
        self.start(self.USER)
        answer("異常検出", "Return")
        find_window(MAIN_TITLE)
        self.assertEqual(self.read(own + ".saving"), b"whole old content")

    def test_a_placed_file_is_read_then_copied(self):
        placed = os.path.join("/usr/local/bin", self.name + ".txt")
        write_file(placed, self.entry(b"placed"))
        before = os.stat(placed).st_mtime_ns
        self.start(self.USER)
        wid = self.save_edit("!")
        own = self.own(self.USER)
        self.assertTrue(wait_for(lambda: self.read(own) == self.entry(b"placed!")), self.read(own))
        self.assertEqual((self.read(placed), os.stat(placed).st_mtime_ns), (self.entry(b"placed"), before))
        # A backup lands beside the user's copy, and says so.
        click(wid, BUTTON["backup"])
        screenshot(find_window("処理完了"), "installed-backup.png")
        answer("処理完了", "Return")
        backups = [n for n in os.listdir(os.path.dirname(own)) if n.startswith(self.name + "_")]
        self.assertEqual([self.read(os.path.join(os.path.dirname(own), n)) for n in backups], [self.read(own)])
        self.assertEqual(sorted(os.listdir("/usr/local/bin")), sorted(self.system + [self.name + ".txt"]))


def start_display(screen="1280x1024x24"):
    """An Xvfb of the suite's own, on the first free display, and its name."""
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", screen, "-nolisten", "tcp"],
                            pass_fds=[write_fd], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_fd, 16)
        if not chunk:
            raise RuntimeError("Xvfb did not start")
        number += chunk
    os.close(read_fd)
    return xvfb, ":" + number.decode().strip()


def main():
    global ARGS, ENV
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--shots", required=True)
    parser.add_argument("--other", default="", help="the other build, if it was built")
    parser.add_argument("--installed", default="", help="an unpacked package's root, for the Installed checks")
    ARGS, rest = parser.parse_known_args()
    xvfb, display = start_display()
    ENV = {k: v for k, v in os.environ.items() if not k.startswith("QT_QPA")}
    ENV["DISPLAY"] = display
    ENV["LC_ALL"] = "C.UTF-8"
    wm = subprocess.Popen(["openbox"], env=ENV, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.5)
    try:
        result = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result
    finally:
        wm.terminate()
        xvfb.terminate()
        wm.wait()
        xvfb.wait()
    failed = len({getattr(test, "test_case", test).id() for test, _ in result.failures + result.errors})
    print("%d passed, %d failed" % (result.testsRun - failed, failed))
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
