#!/usr/bin/env python3
"""Whole-program checks: the real program under Xvfb with openbox, or in
GNOME Shell's or KWin's Wayland session nested in it (through XWayland, as
the program chooses there), driven only from outside with real X input,
checked by what a user sees (window titles, focus, pixels) and keeps (the
agenda file's bytes); and natively on Wayland under a headless sway.

Usage: run_e2e.py --program PATH --preload ENVWRITES_SO --shots FOLDER [--desktop gnome-shell|kwin] [TestClass[.test] ...]
"""
import argparse
import copy
import ctypes
import datetime
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request
import xml.etree.ElementTree as ET

PLACEHOLDER = "（文字列を削除すると、追加した日付が削除されます）".encode("cp932")
MAIN_TITLE = "スケジュール管理ツール"
# Control centres in the main window's client area, in pixels.
LIST_ITEM0 = (20, 18)
EDITOR = (300, 150)
BUTTON = {"add": (164, 342), "update": (248, 338), "backup": (440, 338), "about": (502, 338), "exit": (560, 338)}
ARGS = None
# How long a desktop on a busy machine may take to give a window the
# keyboard: the program keeps asking for 30 seconds.
SLOW = 35.0
ENV = None  # the programs' session; their windows are read on its X display
INPUT = None  # where real input goes: that X server, or the one a compositor is nested in


def x(*cmd, check=True, env=None):
    return subprocess.run(cmd, env=env or ENV, check=check, capture_output=True, text=True).stdout


def xi(*cmd):
    x(*cmd, env=INPUT)


def wait_for(predicate, timeout=5.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


def windows(title, proc=None):
    """The visible windows titled exactly `title` (of the process, if given)."""
    of = ["--all", "--pid", str(proc.pid)] if proc else []
    return x("xdotool", "search", *of, "--onlyvisible", "--name", "^" + re.escape(title) + "$", check=False).split()


def find_window(title, timeout=10.0, proc=None):
    found = []
    if not wait_for(lambda: found.extend(windows(title, proc)) or found, timeout):
        raise AssertionError("no window titled %r appeared" % title)
    return found[-1]


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


def origin(wid):
    """Where the window's client area is on the screen."""
    info = x("xwininfo", "-id", wid)
    return tuple(int(re.search(label + r":\s+(-?\d+)", info).group(1)) for label in ("upper-left X", "upper-left Y"))


def click(wid, point):
    """A click as a hand makes it: the pointer is there a moment before the
    button goes down (a nested compositor may take a press that comes with
    the pointer's first arrival for its own)."""
    left, top = origin(wid)
    xi("xdotool", "mousemove", str(left + point[0]), str(top + point[1]))
    time.sleep(0.05)
    xi("xdotool", "click", "1")
    time.sleep(0.15)


def key(*keys):
    xi("xdotool", "key", "--delay", "30", *keys)
    time.sleep(0.15)


def xdo(*commands):
    """Runs xdotool commands one after the other ("keydown shift", ...)."""
    for command in commands:
        xi("xdotool", *command.split())
    time.sleep(0.2)


def type_text(text):
    xi("xdotool", "type", "--delay", "20", text)
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
    w, h = (int(re.search(label + r":\s+(\d+)", info).group(1)) for label in ("Width", "Height"))
    ax, ay = origin(wid)
    return (ax - left, ay - top, w + left + right, h + top + bottom)


def screenshot(wid, name):
    """A window's picture; the whole screen's, as the nested desktop shows it, for "root"."""
    os.makedirs(ARGS.shots, exist_ok=True)
    x("import", "-window", wid, os.path.join(ARGS.shots, name), env=INPUT if wid == "root" else None)


def write_file(path, data):
    with open(path, "wb") as f:
        f.write(data)


def today_key():
    return datetime.date.today().strftime("%Y.%m.%d").encode()


class Program:
    """A copy of the program in a folder of its own; `agenda` may name the
    section {S}, which becomes the program's name."""

    def __init__(self, agenda=None):
        self.top = self.dir = tempfile.mkdtemp(prefix="tavlo-e2e-").encode()
        self.name = os.path.basename(ARGS.program)
        self.exe = os.path.join(self.dir, self.name.encode())
        shutil.copy2(ARGS.program, self.exe)
        self.stem = self.name.encode()
        self.agenda = os.path.join(self.dir, self.stem + b".txt")
        if agenda is not None:
            write_file(self.agenda, self.file(agenda))
        self.runtime = os.path.join(self.top, b"runtime")
        os.mkdir(self.runtime, 0o700)
        self.procs = []

    def file(self, text):
        return text.replace(b"{S}", self.stem)

    def start(self, env=None, user=()):
        p = subprocess.Popen([*user, self.exe], env=dict(env or ENV, XDG_RUNTIME_DIR=self.runtime),
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

    def setUp(self):
        self.programs = []

    def tearDown(self):
        for prog in self.programs:
            prog.close()
        window_gone(MAIN_TITLE, 3)

    def launch(self, agenda=b"[{S}]\r\n2004.05.07=a\r\n", env=None):
        """(program, process, main window id), the window with the keyboard."""
        prog = Program(agenda)
        self.programs.append(prog)
        proc = prog.start(env)
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

    def test_command_line(self):
        """--help and --version answer in a terminal, without a display."""
        env = {k: v for k, v in ENV.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        for arg, words in [("--version", "1.0.0"), ("--help", "Ctrl+F")]:
            with self.subTest(arg):
                done = subprocess.run([ARGS.program, arg], env=env, capture_output=True, text=True, timeout=10)
                self.assertEqual(done.returncode, 0)
                self.assertIn(words, done.stdout)

    def test_the_environment_changes_before_any_thread(self):
        """In a GNOME or KDE Wayland session the program picks XWayland (and
        the classic one its font resolution) through its environment: before
        its first thread, for glibc's setenv may free the table a getenv on
        another thread walks (the classic one crashed at start now and then)."""
        prog = Program(b"[{S}]\r\n2004.05.07=a\r\n")
        self.programs.append(prog)
        env = dict(ENV, XDG_RUNTIME_DIR=prog.runtime, XDG_SESSION_TYPE="wayland", XDG_CURRENT_DESKTOP="GNOME",
                   WAYLAND_DISPLAY="wayland-none", LD_PRELOAD=ARGS.preload)
        proc = subprocess.Popen([prog.exe], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        prog.procs.append(proc)
        find_window(MAIN_TITLE)
        proc.kill()
        writes = [line.split(None, 2)[1:] for line in proc.communicate()[1].decode().splitlines()
                  if line.startswith("tavlo-environment:")]
        self.assertIn(["QT_QPA_PLATFORM", "alone"], writes)
        self.assertEqual([w for w in writes if w[1] != "alone"], [])

    def test_simultaneous_starts_and_a_kill(self):
        """Of four simultaneous starts one runs; killed, it does not block the
        next start, which is then the running copy."""
        prog = Program(b"[{S}]\r\n2004.05.07=a\r\n")
        self.programs.append(prog)
        copies = [prog.start() for _ in range(4)]
        find_window(MAIN_TITLE)
        wait_for(lambda: sum(p.poll() is None for p in copies) == 1)
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


class RealInput(ProgramTestCase):
    """Keys, clicks and dialogs as a person meets them: modifiers as the X
    server reports them, focus as the window manager gives it."""

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
                self.assertEqual(wait_for(lambda: today_key() in prog.bytes(), 2 if adds else 0.3), adds)

    def test_find(self):
        """Ctrl+F and Enter, F3 across dates (each answer to an edited memo's
        question), Shift+F3, not found, the wrap, Escape; what is found is
        selected, so typing replaces it."""
        memos = ["a", "dentist 8", "dentist 9", "ＤＥＮＴＩＳＴ 10"]
        agenda = b"[{S}]\r\n" + b"".join(b"2004.05.%02d=%s\r\n" % (7 + i, m.encode("cp932")) for i, m in enumerate(memos))
        prog, _, wid = self.launch(agenda)
        click(wid, LIST_ITEM0)

        def stored():
            return [line.split(b"=", 1)[1].decode("cp932") for line in prog.bytes().split(b"\r\n")[1:-1]]
        key("ctrl+f")
        find_window("検索")
        type_text("dentist")
        key("Return")
        screenshot(find_window("検索"), "find-box.png")
        key("Escape")
        screenshot(wid, "find-match-selected.png")
        self.assertTrue(window_gone("検索"))
        type_text("A")  # over the match, unsaved
        for answer_keys, then in [(["Escape"], "ctrl+s"), (["n"], "C"), (["y"], "D")]:
            key("F3")  # the next match is another date's: asked first
            answer("保存確認", *answer_keys)
            if then == "ctrl+s":  # cancelled: still there, with the edit
                key("ctrl+s")
                type_text("B")  # over the whole memo, and dropped by the No
            else:
                type_text(then)
        key("ctrl+s")
        self.assertTrue(wait_for(lambda: stored() == ["a", "A 8", "C 9", "D 10"]), stored())
        key("shift+F3")
        screenshot(find_window("検索結果"), "find-not-found.png")
        answer("検索結果", "Return")  # none left: said, and nothing moves
        key("ctrl+f")
        type_text("a")
        key("Return")
        answer("検索結果", "Return")  # past the last date, on from the first
        key("Escape")
        type_text("Z")
        key("ctrl+s")
        self.assertTrue(wait_for(lambda: stored() == ["Z", "A 8", "C 9", "D 10"]), stored())

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


class Installed(ProgramTestCase):
    """The program in a system folder, as a package puts it, started by root
    and by another user: each keeps the agenda in a data folder of its own,
    reads the file an administrator placed beside the program until its first
    save copies it, and never writes it; nothing in the system folder changes.
    The folder is a file system of this process's own mount namespace, gone
    with it however the suite ends."""

    @classmethod
    def setUpClass(cls):
        if os.getuid() != 0:
            raise unittest.SkipTest("needs root, to mount a system folder and act as another user")
        libc = ctypes.CDLL(None, use_errno=True)
        if libc.unshare(0x00020000) != 0 or libc.mount(b"none", b"/", None, 0x4000 | 0x40000, None) != 0 \
                or libc.mount(b"tavlo-e2e", b"/opt", b"tmpfs", 0, b"mode=0755") != 0:  # CLONE_NEWNS, MS_REC | MS_PRIVATE
            raise AssertionError("no private /opt: errno %d" % ctypes.get_errno())

    def test_placed_file_read_then_copied_never_written(self):
        name = os.path.basename(ARGS.program)
        folder = "/opt/tavlo"
        os.makedirs(folder)
        exe, placed = os.path.join(folder, name), os.path.join(folder, name + ".txt")
        shutil.copy2(ARGS.program, exe)
        write_file(placed, b"[%s]\r\n2004.05.07=placed\r\n" % name.encode())

        def tree():
            paths = [os.path.join(top, n) for top, dirs, files in os.walk(folder) for n in dirs + files + ["."]]
            return sorted((p, os.stat(p).st_mtime_ns, os.stat(p).st_size) for p in paths)
        before = tree()
        for who, user in [("root", []), ("another user", ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"])]:
            with self.subTest(who):
                home = tempfile.mkdtemp(prefix="tavlo-home-")
                self.addCleanup(shutil.rmtree, home, ignore_errors=True)
                runtime = os.path.join(home, "runtime")
                os.mkdir(runtime, 0o700)
                if user:
                    subprocess.run(["chown", "-R", "65534:65534", home], check=True)
                env = {k: v for k, v in ENV.items() if not k.startswith("XDG_")}
                proc = subprocess.Popen(user + [exe], env=dict(env, HOME=home, XDG_RUNTIME_DIR=runtime),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                self.addCleanup(lambda p=proc: p.poll() is None and (p.kill(), p.wait()))
                wid = find_window(MAIN_TITLE)
                activate(wid)
                click(wid, EDITOR)
                key("ctrl+End")
                type_text("+")
                key("ctrl+s")
                own = os.path.join(home, ".local/share/tavlo", folder.lstrip("/"), name + ".txt")
                self.assertTrue(wait_for(lambda: os.path.exists(own) and open(own, "rb").read().endswith(b"=placed+\r\n")),
                                "the edit is not in " + own)
                self.assertEqual(open(placed, "rb").read(), b"[%s]\r\n2004.05.07=placed\r\n" % name.encode())
                self.assertEqual(tree(), before, "the system folder changed")
                proc.kill()
                proc.wait()
                window_gone(MAIN_TITLE, 3)


def free_ports(count):
    """Ports free on 127.0.0.1 now, all different."""
    held = [socket.socket() for _ in range(count)]
    for s in held:
        s.bind(("127.0.0.1", 0))
    ports = [s.getsockname()[1] for s in held]
    for s in held:
        s.close()
    return ports


class Syncthing:
    """A Syncthing instance on 127.0.0.1 only, with a home and ports of its
    own, no discovery, relays or NAT traversal, sharing `folder` with its
    peer; it ends with the suite however that ends."""

    def __init__(self, folder):
        self.folder, self.home = folder, tempfile.mkdtemp(prefix="tavlo-syncthing-")
        subprocess.run(["syncthing", "generate", "--home=" + self.home, "--no-default-folder"], check=True,
                       capture_output=True)
        self.config = os.path.join(self.home, "config.xml")
        self.id = ET.parse(self.config).find("device").get("id")
        self.key = "tavlo-e2e-key"

    def start(self, peer):
        tree = ET.parse(self.config)
        root = tree.getroot()
        gui = root.find("gui")
        gui.find("address").text, gui.find("apikey").text = "127.0.0.1:%d" % self.gui, self.key
        for name, value in [("listenAddress", "tcp://127.0.0.1:%d" % self.listen), ("globalAnnounceEnabled", "false"),
                            ("localAnnounceEnabled", "false"), ("relaysEnabled", "false"), ("natEnabled", "false"),
                            ("startBrowser", "false"), ("urAccepted", "-1"), ("autoUpgradeIntervalH", "0"),
                            ("crashReportingEnabled", "false"), ("reconnectionIntervalS", "1")]:
            root.find("options").find(name).text = value
        other = ET.SubElement(root, "device", id=peer.id, name="peer", compression="metadata")
        ET.SubElement(other, "address").text = "tcp://127.0.0.1:%d" % peer.listen
        # The defaults Syncthing writes for a new folder (conflict copies kept among them).
        folder = copy.deepcopy(root.find("defaults/folder"))
        folder.attrib.update(id="tavlo", label="tavlo", path=self.folder.decode(), fsWatcherDelayS="1")
        for device in folder.findall("device"):
            folder.remove(device)
        for device in (self.id, peer.id):
            ET.SubElement(folder, "device", id=device)
        folder.find("minDiskFree").text = "0"
        root.append(folder)
        tree.write(self.config)
        os.makedirs(os.path.join(self.folder, b".stfolder"), exist_ok=True)
        write_file(os.path.join(self.folder, b".stignore"), b"/tavlo\n/tavlo_classic\n/runtime\n")
        libc = ctypes.CDLL(None)
        self.proc = subprocess.Popen(["syncthing", "serve", "--home=" + self.home, "--no-browser", "--no-restart",
                                      "--no-upgrade"], env=dict(ENV, HOME=self.home, STNODEFAULTFOLDER="1"),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     preexec_fn=lambda: libc.prctl(1, 9))  # PR_SET_PDEATHSIG, SIGKILL

    def rest(self, path, method="GET"):
        request = urllib.request.Request("http://127.0.0.1:%d/rest/%s" % (self.gui, path), method=method,
                                         headers={"X-API-Key": self.key})
        with urllib.request.urlopen(request, timeout=5) as reply:
            body = reply.read()
        return json.loads(body) if body else None

    def connected(self, peer):
        try:
            return self.rest("system/connections")["connections"][peer.id]["connected"]
        except (OSError, KeyError, ValueError):
            return False

    def stop(self):
        self.proc.kill()
        self.proc.wait()
        shutil.rmtree(self.home, ignore_errors=True)


class TwoMachines(ProgramTestCase):
    """Two machines, one agenda: a copy of the program on each of two
    Syncthing instances' folders (their own runtime folders, as two
    machines), through real X input."""

    def setUp(self):
        super().setUp()
        if not shutil.which("syncthing"):
            self.skipTest("needs syncthing")
        self.a, self.b = Program(b"[{S}]\r\n2004.05.07=a\r\n"), Program()
        self.programs += [self.a, self.b]
        self.sync = [Syncthing(self.a.dir), Syncthing(self.b.dir)]
        ports = free_ports(4)
        for st in self.sync:
            st.gui, st.listen = ports.pop(), ports.pop()
        self.addCleanup(lambda: [st.stop() for st in self.sync])
        self.sync[0].start(self.sync[1])
        self.sync[1].start(self.sync[0])
        self.assertTrue(wait_for(lambda: self.sync[0].connected(self.sync[1]), 30), "Syncthing did not connect")
        self.assertTrue(wait_for(lambda: self.b.bytes() == self.a.bytes(), 30), "the agenda did not reach B")
        self.wid = {}
        for prog, left in [(self.a, 10), (self.b, 660)]:
            proc = prog.start()
            wid = find_window(MAIN_TITLE, proc=proc)
            x("xdotool", "windowmove", "--sync", wid, str(left), "10", check=False)
            self.wid[prog] = wid

    def stored(self, prog):
        lines = (prog.bytes() or b"").split(b"\r\n")[1:]
        return {k.decode(): v.decode("cp932") for k, _, v in (line.partition(b"=") for line in lines if line)}

    def on(self, prog, *actions):
        """Clicks and keys on one machine's window."""
        activate(self.wid[prog])
        for action in actions:
            click(self.wid[prog], action) if isinstance(action, tuple) else key(action)

    def test_a_window_follows_the_other_machine(self):
        self.on(self.b, LIST_ITEM0, EDITOR, "ctrl+End")
        type_text("+B")  # B edits, and keeps editing
        self.on(self.a, BUTTON["add"])
        answer("年月日追加", "Return")  # today, after 2004.05.07
        self.on(self.a, (20, 18 + 13), EDITOR, "ctrl+a")
        type_text("from A")
        key("ctrl+s")
        new = today_key().decode()
        self.assertTrue(wait_for(lambda: self.stored(self.b).get(new) == "from A", 30), self.stored(self.b))
        # In B's running window: its edit kept, then the new date there with A's memo.
        self.on(self.b, "ctrl+s", (20, 18 + 13), EDITOR, "ctrl+End")
        type_text("!")
        key("ctrl+s")
        self.assertTrue(wait_for(lambda: self.stored(self.b) == {"2004.05.07": "a+B", new: "from A!"}), self.stored(self.b))

    def test_both_edit_apart_then_one_agenda(self):
        a, b = self.sync
        a.rest("system/pause?device=" + b.id, "POST")
        self.assertTrue(wait_for(lambda: not a.connected(b), 10))
        for prog, text in [(self.a, "from A"), (self.b, "from B")]:
            self.on(prog, LIST_ITEM0, EDITOR, "ctrl+a")
            type_text(text)
            key("ctrl+s")
        a.rest("system/resume?device=" + b.id, "POST")
        # Syncthing keeps one and sets the other aside; whichever machine has
        # the copy offers it (both may: each answers Yes).
        self.assertTrue(wait_for(lambda: windows("同期の食い違い"), 30), "no machine offered the conflict copy")
        deadline = time.monotonic() + 40
        while time.monotonic() < deadline:
            boxes = windows("同期の食い違い") + windows("処理完了")
            for box in boxes:  # Yes to each question, then OK to what it did
                activate(box)
                key("Return")
                wait_for(lambda: box not in windows("同期の食い違い") + windows("処理完了"))
            if boxes:
                continue
            together = self.a.bytes() == self.b.bytes() and self.stored(self.a)["2004.05.07"].count("from") == 2
            aside = [n for p in (self.a, self.b) for n in os.listdir(p.dir) if b"sync-conflict" in n]
            if together and aside and all(b".merged" in n for n in aside):
                break
            time.sleep(0.5)
        memo = self.stored(self.a)["2004.05.07"]
        self.assertEqual(self.a.bytes(), self.b.bytes())
        self.assertEqual((memo.count("from A"), memo.count("from B"), memo.count("【")), (1, 1, 1), memo)
        for prog in (self.a, self.b):
            self.assertTrue([n for n in os.listdir(prog.dir) if n.endswith(b".merged.txt")], "no copy kept aside")
            self.assertFalse([n for n in os.listdir(prog.dir) if b"sync-conflict" in n and b".merged" not in n])


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

    def find(self, nodes, role, name):
        found = [n for n in nodes if n["role"] == role and n["name"] == name]
        self.assertTrue(found, "no %s %r in %s" % (role, name, [(n["role"], n["name"]) for n in nodes]))
        return found[0]

    def test_roles_names_and_the_modal_dialog(self):
        prog = Program()  # no dates: the add-date dialog opens
        self.programs.append(prog)
        prog.start(self.env)
        find_window("年月日追加")
        time.sleep(0.8)
        nodes = self.tree(prog)
        self.find(nodes, "frame", MAIN_TITLE)
        self.find(nodes, "list", "日付一覧")
        self.find(nodes, "text", "メモ")
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
        answer("終了確認", "Tab", "Return")

    def test_tabbing_into_the_list_names_the_date(self):
        _, _, wid = self.launch(b"[{S}]\r\n2024.12.24=a\r\n2024.12.25=b\r\n", self.env)
        time.sleep(0.5)
        click(wid, EDITOR)
        gained = []
        listener = lambda e: e.detail1 and gained.append((e.source.getRoleName(), e.source.name))  # noqa: E731
        pyatspi.Registry.registerEventListener(listener, "object:state-changed:focused")
        GLib.timeout_add(300, lambda: key("shift+Tab") and False)
        GLib.timeout_add(3000, lambda: pyatspi.Registry.stop())
        pyatspi.Registry.start()
        pyatspi.Registry.deregisterEventListener(listener, "object:state-changed:focused")
        self.assertIn(("list item", "2024.12.24"), gained)


class Wayland(ProgramTestCase):
    """Both programs natively on Wayland, under sway without a screen (as
    user nobody for root, whom sway refuses), set to give the keyboard for a
    token as KDE and GNOME do (sway's default only marks the window): a
    second start from an empty workspace brings the running copy's window,
    or its open add-date dialog, forward."""

    @classmethod
    def setUpClass(cls):
        if not shutil.which("sway"):
            raise unittest.SkipTest("needs sway")
        cls.user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] if os.getuid() == 0 else []
        cls.runtime = tempfile.mkdtemp(prefix="tavlo-sway-")
        write_file(os.path.join(cls.runtime, "config"), b"xwayland disable\nfocus_on_window_activation focus\n")
        if cls.user:
            os.chown(cls.runtime, 65534, 65534)
        cls.wl_env = {"PATH": "/usr/bin:/bin", "HOME": cls.runtime, "XDG_RUNTIME_DIR": cls.runtime, "LC_ALL": "C.UTF-8",
                      "WLR_BACKENDS": "headless", "WLR_LIBINPUT_NO_DEVICES": "1", "WLR_RENDERER": "pixman"}
        cls.sway = subprocess.Popen(cls.user + ["sway", "-c", os.path.join(cls.runtime, "config")], env=cls.wl_env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        ipc = lambda: [n for n in os.listdir(cls.runtime) if n.startswith("sway-ipc.")]  # noqa: E731
        if not wait_for(lambda: os.path.exists(os.path.join(cls.runtime, "wayland-1")) and ipc(), 10):
            cls.tearDownClass()
            raise AssertionError("sway did not start")
        cls.wl_env.update(SWAYSOCK=os.path.join(cls.runtime, ipc()[0]), WAYLAND_DISPLAY=os.path.join(cls.runtime, "wayland-1"),
                          QT_QPA_PLATFORM="wayland")

    @classmethod
    def tearDownClass(cls):
        cls.sway.terminate()
        cls.sway.wait()
        shutil.rmtree(cls.runtime, ignore_errors=True)

    def focused(self):
        """(app id, title) of the window with the keyboard, None for an empty workspace."""
        def walk(node):
            if node.get("focused"):
                return (node.get("app_id"), node.get("name")) if node.get("app_id") else None
            return next((f for c in node.get("nodes", []) + node.get("floating_nodes", [])
                         for f in [walk(c)] if f is not False), False)
        return walk(json.loads(self.swaymsg("-t", "get_tree")))

    def swaymsg(self, *args):
        return subprocess.run(self.user + ["swaymsg"] + list(args), env=self.wl_env, capture_output=True, text=True,
                              check=True).stdout

    def shown(self, agenda, title, env):
        """A program started in `env`, once its window `title` has the keyboard."""
        prog = Program(agenda)
        self.programs.append(prog)
        if self.user:
            subprocess.run(["chown", "-R", "65534:65534", prog.top], check=True)
        proc = prog.start(env, self.user)
        self.assertTrue(wait_for(lambda: self.focused() == ("org.example." + prog.name, title), 10), self.focused())
        return prog, proc

    def closed(self, prog):
        prog.close()
        self.assertTrue(wait_for(lambda: self.focused() is None, 5))

    def test_second_start_activates_the_running_copy(self):
        for agenda, title in [(b"[{S}]\r\n2004.05.07=a\r\n", MAIN_TITLE), (None, "年月日追加")]:
            with self.subTest(title):
                prog, _ = self.shown(agenda, title, self.wl_env)
                self.swaymsg("workspace", "2")
                self.assertTrue(wait_for(lambda: self.focused() is None, 5))
                started = time.monotonic()
                self.assertEqual(prog.start(self.wl_env, self.user).wait(timeout=5), 0)
                self.assertLess(time.monotonic() - started, 1.5)
                self.assertTrue(wait_for(lambda: self.focused() == ("org.example." + prog.name, title), 5),
                                "the keyboard stayed with %r" % (self.focused(),))
                self.closed(prog)
                self.swaymsg("workspace", "1")

    def test_a_stale_display_still_shows_the_window(self):
        """A GNOME or KDE Wayland session whose DISPLAY names no X server (left
        over from another session): the program comes up over Wayland."""
        stale = next(":%d" % n for n in range(90, 200) if not os.path.exists("/tmp/.X11-unix/X%d" % n))
        env = {k: v for k, v in self.wl_env.items() if k != "QT_QPA_PLATFORM"}
        for desktop in ("GNOME", "KDE"):
            with self.subTest(desktop):
                session = dict(env, XDG_SESSION_TYPE="wayland", XDG_CURRENT_DESKTOP=desktop, DISPLAY=stale)
                prog, proc = self.shown(b"[{S}]\r\n2004.05.07=a\r\n", MAIN_TITLE, session)
                self.assertIsNone(proc.poll())
                self.closed(prog)


MWM_FUNC_MINIMIZE, MWM_FUNC_MAXIMIZE = 0x08, 0x10
MWM_DECOR_MINIMIZE, MWM_DECOR_MAXIMIZE = 0x20, 0x40
ACTION = "_NET_WM_ACTION_%s"


class Desktops(ProgramTestCase):
    """What the window manager does with the program (openbox; GNOME Shell and
    KWin, through XWayland, with --desktop): a second start brings the
    running copy forward while another program has the keyboard; dialogs are
    centred on the main window, modal, offer no maximise, and come back when
    minimised."""

    def newest(self, title, before):
        wait_for(lambda: [w for w in windows(title) if w not in before], 15)
        return ([w for w in windows(title) if w not in before] or [None])[-1]

    def active(self):
        return x("xdotool", "getactivewindow", check=False).strip()

    def state(self, wid, name):
        return x("xprop", "-id", wid, name, check=False)

    def start_program(self, agenda, title):
        """A program and its window with the keyboard."""
        before = windows(title)
        prog = Program(agenda)
        self.programs.append(prog)
        prog.start()
        wid = self.newest(title, before)
        self.assertTrue(wait_for(lambda: self.active() == wid, SLOW), "%s does not have the keyboard" % title)
        return prog, wid

    def test_second_start_brings_the_window_forward(self):
        for how in ["terminal", "minimised", "dialog open"]:
            with self.subTest(how):
                title = "年月日追加" if how == "dialog open" else MAIN_TITLE
                prog, wid = self.start_program(None if how == "dialog open" else b"[{S}]\r\n2004.05.07=a\r\n", title)
                main = windows(MAIN_TITLE)[-1]
                # Another program, out of the way, that the user clicks into and types in.
                _, other = self.start_program(b"[{S}]\r\n2004.05.07=b\r\n", MAIN_TITLE)
                x("xdotool", "windowmove", "--sync", other, "520", "440", check=False)
                time.sleep(0.3)
                click(other, (40, 250))  # clear of the first program's windows
                type_text("x")
                self.assertTrue(wait_for(lambda: self.active() == other))
                if how == "minimised":
                    x("xdotool", "windowminimize", wid)
                    self.assertTrue(wait_for(lambda: "HIDDEN" in self.state(wid, "_NET_WM_STATE") or not viewable(wid)))
                    time.sleep(0.5)  # no user starts it again faster
                started = time.monotonic()
                self.assertEqual(prog.start().wait(timeout=5), 0)
                self.assertLess(time.monotonic() - started, 1.5)
                self.assertTrue(wait_for(lambda: self.active() == wid, SLOW), "the keyboard stayed with " + self.active())
                self.assertTrue(viewable(main) and "HIDDEN" not in self.state(main, "_NET_WM_STATE"))
                screenshot("root", "%s-second-start-%s.png" % (ARGS.desktop, how.replace(" ", "-")))
                if how == "terminal":
                    # The user turns away at once: the program does not take
                    # the keyboard back while it still makes sure of it.
                    activate(other)  # as from the task bar
                    self.assertEqual(self.active(), other)
                    time.sleep(max(0.0, started + 5.5 - time.monotonic()))
                    self.assertEqual(self.active(), other, "the program took the keyboard back")
            self.tearDown()

    def test_dialogs(self):
        def hints(wid):  # (functions, decorations) the program asked the window manager for
            fields = self.state(wid, "_MOTIF_WM_HINTS").split("=")[1].split(",")
            return int(fields[1], 16), int(fields[2], 16)

        def offers(wid, action):  # what the window manager offers
            return ACTION % action in self.state(wid, "_NET_WM_ALLOWED_ACTIONS")
        _, _, wid = self.launch()
        # Docks match the window to its desktop entry (StartupWMClass), and show its icon.
        self.assertIn('"%s"' % os.path.basename(ARGS.program), self.state(wid, "WM_CLASS"))
        self.assertTrue(wait_for(lambda: "Icon (64 x 64)" in self.state(wid, "_NET_WM_ICON")))
        self.assertEqual(hints(wid)[0] & (MWM_FUNC_MINIMIZE | MWM_FUNC_MAXIMIZE), MWM_FUNC_MINIMIZE)
        self.assertFalse(offers(wid, "MAXIMIZE_HORZ") or offers(wid, "MAXIMIZE_VERT"))
        main = frame(wid)
        for title, opener in [("年月日追加", "add"), ("バージョン情報", "about"), ("終了確認", "exit")]:
            with self.subTest(title):
                click(wid, BUTTON[opener])
                dialog = find_window(title)
                self.assertTrue(wait_for(lambda: self.active() == dialog, SLOW))
                if opener == "add":
                    screenshot("root", ARGS.desktop + "-add-date-dialog.png")
                functions, decorations = hints(dialog)
                self.assertFalse(functions & (MWM_FUNC_MINIMIZE | MWM_FUNC_MAXIMIZE))
                self.assertFalse(decorations & (MWM_DECOR_MINIMIZE | MWM_DECOR_MAXIMIZE))
                self.assertFalse(offers(dialog, "MAXIMIZE_HORZ") or offers(dialog, "MAXIMIZE_VERT"))
                # openbox and KWin offer minimise on every dialog, whatever the hints ask.
                self.assertTrue(ARGS.desktop != "gnome-shell" or not offers(dialog, "MINIMIZE"))
                self.assertIn("_NET_WM_STATE_MODAL", self.state(dialog, "_NET_WM_STATE"))
                box = frame(dialog)
                for axis in (0, 1):  # frame centres, to the pixel
                    self.assertLessEqual(abs((2 * box[axis] + box[axis + 2]) - (2 * main[axis] + main[axis + 2])), 2)
                # A click on the main window leaves the keyboard with the dialog.
                click(wid, (40, 300))
                self.assertTrue(wait_for(lambda: self.active() == dialog, SLOW), "the keyboard went to " + self.active())
                # A window manager that minimises it anyway gets it back at once
                # (KWin, by its frame's button: it then takes the owner along).
                if ARGS.desktop == "kwin":
                    left, top, width, _ = frame(dialog)
                    xi("xdotool", "mousemove", str(left + width - 48), str(top + 18), "click", "1")
                else:
                    x("xdotool", "windowminimize", dialog)
                time.sleep(0.5)
                self.assertTrue(wait_for(lambda: viewable(dialog)), "the minimised dialog stayed hidden")
                answer(title, "Escape")
                self.assertTrue(wait_for(lambda: self.active() == wid, SLOW))


class Desktop:
    """A compositor nested in the X server `host`, with a session bus, home
    and runtime folder of its own; `session` is what it gives the programs it
    starts (its XWayland, where the programs run, as they choose there)."""

    def __init__(self, host, name, args, env=None):
        self.home = tempfile.mkdtemp(prefix="tavlo-desktop-")
        self.runtime = os.path.join(self.home, "runtime")
        os.mkdir(self.runtime, 0o700)
        self.env = {"PATH": "/usr/bin:/bin", "HOME": self.home, "XDG_RUNTIME_DIR": self.runtime, "LC_ALL": "C.UTF-8",
                    "DISPLAY": host, "XDG_CURRENT_DESKTOP": name}
        self.procs = []
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.bus(["--session"])
        self.log = open(os.path.join(self.home, "compositor.log"), "w+")
        self.prepare()
        self.procs.append(subprocess.Popen(args, env=dict(self.env, **(env or {})), stdout=self.log,
                                           stderr=subprocess.STDOUT))
        if not wait_for(self.started, 30):
            self.stop()
            raise AssertionError("%s did not start" % name)
        self.session = dict(self.started(), XDG_SESSION_TYPE="wayland",
                            WAYLAND_DISPLAY=os.path.join(self.runtime, "wayland-tavlo"))

    def bus(self, args):
        p = subprocess.Popen(["dbus-daemon", "--nofork", "--print-address=1"] + args, env=self.env,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.procs.append(p)
        return p.stdout.readline().strip()

    def stop(self):
        for p in reversed(self.procs):
            p.terminate()
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()
        self.log.close()
        shutil.rmtree(self.home, ignore_errors=True)


class GnomeShell(Desktop):
    """gnome-shell --nested --wayland. An extension in the test's home hides
    the overview the Shell starts in, and says when that is done."""

    def __init__(self, host):
        super().__init__(host, "GNOME", ["gnome-shell", "--nested", "--wayland", "--wayland-display=wayland-tavlo"],
                         {"GSETTINGS_BACKEND": "keyfile", "MUTTER_DEBUG_DUMMY_MODE_SPECS": "1024x768"})

    def prepare(self):
        uuid = "tavlo-tests@example.org"
        ext = os.path.join(self.home, ".local/share/gnome-shell/extensions", uuid)
        os.makedirs(ext)
        os.makedirs(os.path.join(self.home, ".config/glib-2.0/settings"))
        for path, text in [
                (ext + "/metadata.json", json.dumps({"uuid": uuid, "name": "t", "description": "t",
                                                     "shell-version": ["43"]})),
                (ext + "/extension.js", """const {GLib} = imports.gi; const Main = imports.ui.main;
function init() {} function disable() {}
function enable() {
    const settle = () => GLib.timeout_add(GLib.PRIORITY_DEFAULT, 200, () => {
        if (!Main.overview.visible) return GLib.file_set_contents(GLib.get_home_dir() + '/ready', '') && false;
        Main.overview.hide();
        return true;
    });
    if (Main.layoutManager._startingUp) Main.layoutManager.connect('startup-complete', settle); else settle();
}"""),
                (self.home + "/.config/glib-2.0/settings/keyfile", "[org/gnome/shell]\nenabled-extensions=['%s']\n" % uuid)]:
            write_file(path, text.encode())
        # The Shell asks logind and others on the system bus: a private one,
        # with no services to start, says they are not there.
        with open("/usr/share/dbus-1/system.conf") as f:
            conf = re.sub(r"<listen>.*?</listen>", "<listen>unix:path=%s/system_bus</listen>" % self.runtime, f.read())
        conf = re.sub(r"<(user|pidfile)>.*?</\1>|<standard_system_servicedirs/>|<(servicedir|includedir)>.*?</\2>",
                      "", conf)
        write_file(self.runtime + "/system.conf", conf.encode())
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = self.bus(["--config-file=" + self.runtime + "/system.conf"])

    def started(self):
        self.log.seek(0)
        m = re.search(r"public X11 display :(\d+)", self.log.read())
        auth = [n for n in os.listdir(self.runtime) if n.startswith(".mutter-Xwaylandauth")]
        return m and auth and os.path.exists(self.home + "/ready") and \
            dict(self.env, DISPLAY=":" + m.group(1), XAUTHORITY=os.path.join(self.runtime, auth[0]))


class KWin(Desktop):
    """kwin_wayland --xwayland: a copy of the binary, which carries a file
    capability that a container refuses. KWin starts the session's first
    program once it is ready, with the session's variables."""

    def __init__(self, host):
        self.bin = tempfile.mkdtemp(prefix="tavlo-kwin-")
        exe = os.path.join(self.bin, "kwin_wayland")  # its platform plugin wants that name
        shutil.copy("/usr/bin/kwin_wayland", exe)
        write_file(exe + ".sh", b"#!/bin/sh\nenv -0 > %s.part && mv %s.part %s && exec sleep 1d\n" % ((exe.encode() + b".env",) * 3))
        os.chmod(exe + ".sh", 0o755)
        super().__init__(host, "KDE", [exe, "--x11-display", host, "--socket", "wayland-tavlo", "--width", "1024",
                                       "--height", "768", "--xwayland", "--", exe + ".sh"])

    def prepare(self):
        pass

    def started(self):
        path = os.path.join(self.bin, "kwin_wayland.env")
        if not os.path.exists(path):
            return None
        given = dict(v.split("=", 1) for v in open(path).read().split("\0") if "=" in v)
        return dict(self.env, **{k: given[k] for k in ("DISPLAY", "XAUTHORITY") if k in given})

    def stop(self):
        super().stop()
        shutil.rmtree(self.bin, ignore_errors=True)


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


class SaysWhyAtOnce(unittest.TextTestResult):
    """Writes each failure as it comes: a suite stopped at its time limit
    still says why its tests failed."""

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err)
        if err is not None:
            self.stream.writeln(self._exc_info_to_string(err, subtest))

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self.stream.writeln(self._exc_info_to_string(err, test))

    def addError(self, test, err):
        super().addError(test, err)
        self.stream.writeln(self._exc_info_to_string(err, test))


def main():
    global ARGS, ENV, INPUT
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--shots", required=True)
    parser.add_argument("--preload", required=True, help="tests/app/envwrites.c, built")
    parser.add_argument("--desktop", default="openbox", choices=["openbox", "gnome-shell", "kwin"])
    ARGS, rest = parser.parse_known_args()
    nested = ARGS.desktop != "openbox"
    xvfb, display = start_display("1024x768x24" if nested else "1280x1024x24")
    INPUT = {k: v for k, v in os.environ.items() if not k.startswith("QT_QPA")}
    INPUT.update(DISPLAY=display, LC_ALL="C.UTF-8")
    if nested:
        desktop = (GnomeShell if ARGS.desktop == "gnome-shell" else KWin)(display)
        ENV, stop = desktop.session, desktop.stop
    else:
        wm = subprocess.Popen(["openbox"], env=INPUT, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: "window id" in x("xprop", "-root", "_NET_SUPPORTING_WM_CHECK", check=False, env=INPUT))
        ENV, stop = INPUT, lambda: (wm.terminate(), wm.wait())
    try:
        result = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2,
                               testRunner=unittest.TextTestRunner(resultclass=SaysWhyAtOnce, verbosity=2)).result
    finally:
        stop()
        xvfb.terminate()
        xvfb.wait()
    failed = len({getattr(test, "test_case", test).id() for test, _ in result.failures + result.errors})
    print("%d passed, %d failed" % (result.testsRun - failed, failed))
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
