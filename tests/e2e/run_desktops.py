#!/usr/bin/env python3
"""The program on the desktops Debian users run: GNOME Shell 43 and KWin 5.27,
each a real Wayland compositor with its XWayland, nested in an Xvfb of this
suite's own, with the session's variables a desktop gives its programs.
Input is real X input to the Xvfb, which the compositor passes on; what has
the keyboard, where windows are and what they offer is read from the
compositor itself (GNOME Shell's Eval, KWin's scripting).

Usage: run_desktops.py --program PATH --shots FOLDER [TestClass[.test] ...]
"""
import argparse
import contextlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from run_e2e import MAIN_TITLE, Program, start_display

ADD_TITLE = "年月日追加"
SCREEN = (1024, 768)
ARGS = None
XVFB_DISPLAY = None


def wait_for(predicate, timeout=5.0):
    """What `predicate` gives once it gives something, else its last answer."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    return predicate()


def xdotool(*args):
    subprocess.run(["xdotool"] + [str(a) for a in args], env=dict(os.environ, DISPLAY=XVFB_DISPLAY), check=True)
    time.sleep(0.2)


def free_point(rect, others):
    """A point well inside `rect` (away from its frame, where a click would
    start a move or a resize) that none of `others` covers; the compositor's
    coordinates are the Xvfb's, its output sitting at the origin."""
    x0, y0, w, h = rect
    margin = 50
    for y in range(y0 + h - margin, y0 + margin, -10):
        for x in range(x0 + margin, x0 + w - margin, 10):
            inside = margin < y < SCREEN[1] - margin and margin < x < SCREEN[0] - margin
            if inside and not any(o[0] <= x < o[0] + o[2] and o[1] <= y < o[1] + o[3] for o in others):
                return x, y
    raise AssertionError("no free point on %r outside %r" % (rect, others))


class Desktop:
    """A compositor with a private session bus, home and runtime folder."""

    def __init__(self, native):
        self.native = native  # no XWayland: programs must speak Wayland
        self.home = tempfile.mkdtemp(prefix="tavlo-desktop-")
        self.runtime = os.path.join(self.home, "runtime")
        os.mkdir(self.runtime, 0o700)
        self.env = {"PATH": "/usr/bin:/bin", "HOME": self.home, "XDG_RUNTIME_DIR": self.runtime,
                    "LC_ALL": "C.UTF-8", "DISPLAY": XVFB_DISPLAY}
        self.daemons = []
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.bus(["--session"])
        self.log = open(os.path.join(self.home, "compositor.log"), "w+")

    def bus(self, args):
        p = subprocess.Popen(["dbus-daemon", "--nofork", "--print-address=1"] + args, env=self.env,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.daemons.append(p)
        return p.stdout.readline().strip()

    def stop(self):
        for p in [self.compositor] + self.daemons:
            p.terminate()
        for p in [self.compositor] + self.daemons:
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        self.log.close()
        shutil.rmtree(self.home, ignore_errors=True)

    def program_env(self, runtime):
        """What the session gives a program it starts."""
        env = dict(self.session, XDG_RUNTIME_DIR=runtime, XDG_SESSION_TYPE="wayland", WAYLAND_DISPLAY=self.wayland)
        if self.native:
            env.pop("DISPLAY", None)
        return env

    def window(self, pid, title):
        return next((w for w in self.windows() if w["pid"] == pid and w["title"] == title), None)

    def focused(self):
        """(pid, title) of the window with the keyboard."""
        return next(((w["pid"], w["title"]) for w in self.windows() if w["focus"]), None)


class GnomeShell(Desktop):
    name = "gnome-shell"
    UNSAFE = "tavlo-tests@example.org"

    def __init__(self, native=False):
        super().__init__(native)
        # Eval answers only in unsafe mode, which an extension of the test's
        # own turns on; the keyfile backend lets it be enabled before start.
        ext = os.path.join(self.home, ".local/share/gnome-shell/extensions", self.UNSAFE)
        os.makedirs(ext)
        with open(os.path.join(ext, "metadata.json"), "w") as f:
            json.dump({"uuid": self.UNSAFE, "name": "tests", "description": "tests", "shell-version": ["43"]}, f)
        with open(os.path.join(ext, "extension.js"), "w") as f:
            f.write("function init() {}\nfunction enable() { global.context.unsafe_mode = true; }\n"
                    "function disable() {}\n")
        os.makedirs(os.path.join(self.home, ".config/glib-2.0/settings"))
        with open(os.path.join(self.home, ".config/glib-2.0/settings/keyfile"), "w") as f:
            f.write("[org/gnome/shell]\nenabled-extensions=['%s']\n" % self.UNSAFE)
        # The Shell asks logind and others on the system bus: a private one,
        # with no services to start, answers that they are not there.
        with open("/usr/share/dbus-1/system.conf") as f:
            conf = f.read()
        conf = re.sub(r"<listen>.*?</listen>", "<listen>unix:path=%s/system_bus</listen>" % self.runtime, conf)
        conf = re.sub(r"<(user|pidfile)>.*?</\1>|<standard_system_servicedirs/>|<servicedir>.*?</servicedir>"
                      r"|<includedir>.*?</includedir>", "", conf)
        with open(os.path.join(self.runtime, "system.conf"), "w") as f:
            f.write(conf)
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = self.bus(["--config-file=" + os.path.join(self.runtime, "system.conf")])
        self.env.update(GSETTINGS_BACKEND="keyfile", XDG_CURRENT_DESKTOP="GNOME",
                        MUTTER_DEBUG_DUMMY_MODE_SPECS="%dx%d" % SCREEN)
        self.wayland = os.path.join(self.runtime, "wayland-tavlo")
        args = ["gnome-shell", "--nested", "--wayland", "--wayland-display=wayland-tavlo"]
        self.compositor = subprocess.Popen(args + (["--no-x11"] if native else []), env=self.env,
                                           stdout=self.log, stderr=subprocess.STDOUT)
        # The Shell starts in the overview, with an animation that takes the
        # keyboard; the session as a user meets it begins after both.
        if not wait_for(lambda: self.eval("Main.layoutManager._startingUp") == "false", 20):
            self.stop()
            raise AssertionError("GNOME Shell did not start")
        self.eval("Main.overview.hide()")
        self.session = {k: v for k, v in self.env.items() if not k.startswith(("MUTTER_", "GSETTINGS_"))}
        if not native:
            self.session["DISPLAY"] = ":" + wait_for(self.x_display, 10)
            self.session["XAUTHORITY"] = next(os.path.join(self.runtime, n) for n in os.listdir(self.runtime)
                                              if n.startswith(".mutter-Xwaylandauth"))
        wait_for(lambda: self.eval("Main.overview.visible") == "false", 5)

    def x_display(self):
        self.log.seek(0)
        m = re.search(r"Using public X11 display :(\d+)", self.log.read())
        return m and m.group(1)

    def eval(self, script):
        result = subprocess.run(["gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                                 "/org/gnome/Shell", "--method", "org.gnome.Shell.Eval", script],
                                env=self.env, capture_output=True, text=True)
        m = re.match(r"\(true, '(.*)'\)$", result.stdout.strip())
        return m.group(1) if m else None

    def eval_json(self, script):
        """What `script` gives, which the Shell hands back as JSON."""
        return json.loads(self.eval(script).encode().decode("unicode_escape").encode("latin-1").decode("utf-8"))

    def windows(self):
        return self.eval_json(
            "global.get_window_actors().map(a => a.meta_window).map(w => ({"
            "pid: w.get_pid(), title: w.get_title(), focus: w.has_focus(), rect: (r => [r.x, r.y, r.width, r.height])"
            "(w.get_frame_rect()), minimized: w.minimized, attention: w.demands_attention, "
            "modal: w.get_window_type() == 4, attached: w.is_attached_dialog(), "
            "maximizable: w.can_maximize(), minimizable: w.can_minimize()}))")

    def minimize(self, pid, title):
        self.eval("global.get_window_actors().map(a => a.meta_window).filter(w => w.get_pid() == %d && "
                  "w.get_title() == %s).forEach(w => w.minimize())" % (pid, json.dumps(title)))

    def move(self, pid, x, y):
        self.eval("global.get_window_actors().map(a => a.meta_window).filter(w => w.get_pid() == %d)"
                  ".forEach(w => w.move_frame(true, %d, %d))" % (pid, x, y))

    def launcher_token(self):
        """What the Shell's launcher gives a program it starts (its launch
        context's startup id), after a click on the dash."""
        return self.eval_json("(() => { let c = global.create_app_launch_context("
                         "global.display.get_current_time_roundtrip(), -1); let i = imports.gi.Gio.AppInfo."
                         "create_from_commandline('/bin/true', 'tavlo', 0); return c.get_startup_notify_id(i, []); })()")

    def attention_notices(self):
        return self.eval_json("Main.messageTray.getSources().map(s => s.title)")


class KWin(Desktop):
    name = "kwin"

    def __init__(self, native=False):
        super().__init__(native)
        # kwin_wayland carries a file capability that a container refuses to
        # grant; a copy of the binary has none.
        exe = os.path.join(self.home, "kwin_wayland")
        shutil.copy("/usr/bin/kwin_wayland", exe)
        self.env["XDG_CURRENT_DESKTOP"] = "KDE"
        envfile = os.path.join(self.home, "session.env")
        args = [exe, "--x11-display", XVFB_DISPLAY, "--socket", "wayland-tavlo",
                "--width", str(SCREEN[0]), "--height", str(SCREEN[1])]
        if not native:
            args.append("--xwayland")
        # KWin starts this once it is ready, with the session's variables.
        starter = os.path.join(self.home, "session-started")
        with open(starter, "w") as f:
            f.write("#!/bin/sh\nenv -0 > %s.part && mv %s.part %s && exec sleep 1d\n" % ((envfile,) * 3))
        os.chmod(starter, 0o755)
        args += ["--", starter]
        self.compositor = subprocess.Popen(args, env=self.env, stdout=self.log, stderr=subprocess.STDOUT)
        if not wait_for(lambda: os.path.exists(envfile), 20):
            self.stop()
            raise AssertionError("KWin did not start")
        with open(envfile) as f:
            given = dict(v.split("=", 1) for v in f.read().split("\0") if "=" in v)
        self.session = dict(self.env)
        self.session.pop("DISPLAY")
        for name in ("DISPLAY", "XAUTHORITY"):
            if name in given:
                self.session[name] = given[name]
        self.wayland = os.path.join(self.runtime, "wayland-tavlo")
        self.queries = 0

    def script(self, body):
        """Runs a KWin script; what it passes to out() comes back."""
        self.queries += 1
        name = "tavlo%d" % self.queries
        path = os.path.join(self.home, name + ".js")
        with open(path, "w") as f:
            f.write("function out(s) { print('%s ' + JSON.stringify(s)); }\n%s\n" % (name, body))
        call = ["gdbus", "call", "--session", "--dest", "org.kde.KWin", "--object-path", "/Scripting", "--method"]
        subprocess.run(call + ["org.kde.kwin.Scripting.loadScript", path, name], env=self.env, check=True,
                       capture_output=True)
        subprocess.run(call + ["org.kde.kwin.Scripting.start"], env=self.env, check=True, capture_output=True)

        def answer():
            self.log.seek(0)
            m = re.search(r"js: %s (.*)" % name, self.log.read())
            return m and m.group(1)
        found = wait_for(answer, 5)
        subprocess.run(call + ["org.kde.kwin.Scripting.unloadScript", name], env=self.env, capture_output=True)
        return json.loads(found)

    def windows(self):
        return self.script(
            "out(workspace.clientList().filter(c => c.normalWindow || c.dialog).map(c => ({pid: c.pid, "
            "title: c.caption.replace(/ <\\d+>\\u200e?$/, ''), focus: c.active, rect: [c.frameGeometry.x, "
            "c.frameGeometry.y, c.frameGeometry.width, c.frameGeometry.height], minimized: c.minimized, "
            "attention: c.demandsAttention, modal: c.modal, attached: false, maximizable: c.maximizable, "
            "minimizable: c.minimizable})));")

    def minimize(self, pid, title):
        self.script("workspace.clientList().filter(c => c.pid == %d && c.caption.indexOf(%s) == 0)"
                    ".forEach(c => c.minimized = true); out(0);" % (pid, json.dumps(title)))

    def move(self, pid, x, y):
        self.script("workspace.clientList().filter(c => c.pid == %d).forEach(c => c.frameGeometry = "
                    "{x: %d, y: %d, width: c.frameGeometry.width, height: c.frameGeometry.height}); out(0);"
                    % (pid, x, y))

    def launcher_token(self):
        # Plasma's launcher hands an X program a startup id that ends in the
        # time of the click.
        return "kickoff-tavlo-1_TIME%d" % int(time.monotonic() * 1000 % 2**31)


class DesktopCase(unittest.TestCase):
    desktop_class = None
    native = False

    @classmethod
    def setUpClass(cls):
        if cls.desktop_class is None:
            raise unittest.SkipTest("the checks themselves; their desktops follow")
        if not shutil.which("gnome-shell" if cls.desktop_class is GnomeShell else "kwin_wayland"):
            raise unittest.SkipTest("needs " + cls.desktop_class.name)
        cls.desktop = cls.desktop_class(cls.native)

    @classmethod
    def tearDownClass(cls):
        cls.desktop.stop()

    def setUp(self):
        self.programs = []

    def tearDown(self):
        self.close_programs()

    @contextlib.contextmanager
    def closing(self):
        """Closes the programs at the end of a row, however the row ends."""
        try:
            yield
        finally:
            self.close_programs()

    def close_programs(self):
        for p in self.programs:
            p.close()
        self.programs = []
        wait_for(lambda: not [w for w in self.desktop.windows() if w["title"] in (MAIN_TITLE, ADD_TITLE)], 5)

    def shot(self, name):
        os.makedirs(ARGS.shots, exist_ok=True)
        subprocess.run(["import", "-window", "root", "-crop", "%dx%d+0+0" % SCREEN, "+repage",
                        os.path.join(ARGS.shots, "%s-%s" % (type(self).__name__, name))],
                       env=dict(os.environ, DISPLAY=XVFB_DISPLAY), check=True)

    def open(self, agenda=True, title=MAIN_TITLE):
        prog = Program(b"[{S}]\r\n2004.05.07=a\r\n" if agenda else None, program=ARGS.program)
        self.programs.append(prog)
        first = prog.start(self.desktop.program_env(prog.runtime))
        win = wait_for(lambda: self.desktop.window(first.pid, title), 15)
        self.assertTrue(win, "no window %r" % title)
        self.assertTrue(wait_for(lambda: self.desktop.focused() == (first.pid, title), 5), self.desktop.focused())
        return prog, first

    def other_program_takes_the_keyboard(self):
        """Another program the user clicks into and types in."""
        other = Program(b"[{S}]\r\n2004.05.07=a\r\n", program=ARGS.program)
        self.programs.append(other)
        p = other.start(self.desktop.program_env(other.runtime))
        self.assertTrue(wait_for(lambda: (self.desktop.window(p.pid, MAIN_TITLE) or {}).get("rect", [0] * 4)[2], 15))
        # Out of the way of the first program's windows, as a user would put it.
        self.desktop.move(p.pid, SCREEN[0] - 500, SCREEN[1] - 300)
        time.sleep(0.3)
        mine = [w["rect"] for w in self.desktop.windows() if w["pid"] != p.pid]
        x, y = free_point(self.desktop.window(p.pid, MAIN_TITLE)["rect"], mine)
        xdotool("mousemove", x, y, "click", 1)
        xdotool("type", "x")
        self.assertTrue(wait_for(lambda: self.desktop.focused() == (p.pid, MAIN_TITLE), 5), self.desktop.focused())

    def second_start(self, prog, **env):
        second = prog.start(self.desktop.program_env(prog.runtime), **env)
        self.assertEqual(second.wait(timeout=5), 0)



class Forward(DesktopCase):
    """Where the program runs through XWayland, as it chooses on these desktops."""

    def test_second_start_brings_the_window_forward(self):
        for how in ["terminal", "DESKTOP_STARTUP_ID", "XDG_ACTIVATION_TOKEN", "minimised", "dialog open"]:
            with self.subTest(how), self.closing():
                prog, first = self.open(agenda=how != "dialog open", title=ADD_TITLE if how == "dialog open" else
                                        MAIN_TITLE)
                title = self.desktop.focused()[1]
                self.other_program_takes_the_keyboard()
                if how == "minimised":
                    self.desktop.minimize(first.pid, MAIN_TITLE)
                    self.assertTrue(wait_for(lambda: self.desktop.window(first.pid, MAIN_TITLE)["minimized"], 5))
                    time.sleep(0.5)  # no user starts it again faster
                env = {how: self.desktop.launcher_token()} if how.isupper() else {}
                self.second_start(prog, **env)
                self.assertTrue(wait_for(lambda: self.desktop.focused() == (first.pid, title), 5),
                                "the keyboard stayed with %r: %r" % (self.desktop.focused(), self.desktop.windows()))
                self.assertFalse(self.desktop.window(first.pid, MAIN_TITLE)["minimized"])
                self.shot("second-start-%s.png" % how.lower().replace(" ", "-"))

    def test_dialogs_are_attached_centred_and_modal(self):
        prog, first = self.open(agenda=False, title=ADD_TITLE)
        windows = self.desktop.windows()
        main = next(w for w in windows if w["pid"] == first.pid and w["title"] == MAIN_TITLE)
        dialog = next(w for w in windows if w["pid"] == first.pid and w["title"] == ADD_TITLE)
        self.shot("add-date-dialog.png")
        centre = lambda r: (r[0] + r[2] / 2, r[1] + r[3] / 2)  # noqa: E731
        for a, b in zip(centre(main["rect"]), centre(dialog["rect"])):
            self.assertLessEqual(abs(a - b), 2, (main["rect"], dialog["rect"]))
        self.assertTrue(dialog["modal"])
        if isinstance(self.desktop, GnomeShell):
            self.assertTrue(dialog["attached"])
        self.assertEqual([w["maximizable"] for w in (main, dialog)], [False, False])
        # KWin offers minimise on every dialog, whatever the hints say, and
        # takes the owner along; the dialog then comes back by itself.
        if isinstance(self.desktop, GnomeShell):
            self.assertFalse(dialog["minimizable"])
        # A click on the main window leaves the keyboard with the dialog,
        # which Escape then closes.
        x, y = free_point(main["rect"], [dialog["rect"]])
        xdotool("mousemove", x, y, "click", 1)
        self.assertTrue(wait_for(lambda: self.desktop.focused() == (first.pid, ADD_TITLE), 5), self.desktop.focused())
        xdotool("key", "Escape")
        self.assertTrue(wait_for(lambda: self.desktop.window(first.pid, ADD_TITLE) is None, 5))
        self.assertTrue(wait_for(lambda: self.desktop.focused() == (first.pid, MAIN_TITLE), 5))


class GnomeShellX(Forward):
    """GNOME Shell's Wayland session, where the program runs through XWayland."""
    desktop_class = GnomeShell


class KWinX(Forward):
    """Plasma's Wayland session (KWin), where the program runs through XWayland."""
    desktop_class = KWin


class GnomeShellWayland(DesktopCase):
    """GNOME Shell without XWayland: the program speaks Wayland, and mutter
    lets a window come forward only with its launcher's token; a start from
    a terminal gets the Shell's "is ready" notice instead."""
    desktop_class = GnomeShell
    native = True

    def test_second_start(self):
        for how in ["DESKTOP_STARTUP_ID", "terminal"]:
            with self.subTest(how), self.closing():
                prog, first = self.open()
                self.other_program_takes_the_keyboard()
                env = {how: self.desktop.launcher_token()} if how.isupper() else {}
                self.second_start(prog, **env)
                if how == "terminal":
                    self.assertTrue(wait_for(lambda: self.desktop.window(first.pid, MAIN_TITLE)["attention"], 5))
                    self.assertIn("org.example." + os.path.basename(ARGS.program), self.desktop.attention_notices())
                else:
                    self.assertTrue(wait_for(lambda: self.desktop.focused() == (first.pid, MAIN_TITLE), 5),
                                    self.desktop.focused())


def main():
    global ARGS, XVFB_DISPLAY
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--shots", required=True)
    ARGS, rest = parser.parse_known_args()
    xvfb, XVFB_DISPLAY = start_display("%dx%dx24" % SCREEN)
    try:
        result = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result
    finally:
        xvfb.terminate()
        xvfb.wait()
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
