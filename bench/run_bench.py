#!/usr/bin/python3
"""Measures the real programs from outside, under Xvfb, with X events:

- start-up: from exec until the main window is mapped and its first paint
  (which shows the first date's memo) has reached the window;
- date switch: from an Up key press in the list, among the latest dates (the
  end of the file), until the new memo is painted;
- save: from the release of a click on the update button until the new file
  is renamed into place (inotify), beside the floor of
  writing the same bytes to a temporary file with flush and rename;
- memory: peak resident size after start-up and the date switches;

each beside an empty Qt window (a list and a plain-text editor, nothing
loaded) measured in the same run, round by round: each round starts the empty
window, the main window alone and the program with every data set once.
Then runs the store's in-process benchmark.

With --against OTHER_BUILD, each round also starts that build's programs on
the same data, in turn with this build's (which goes first alternates), and
a table sets the two first paints side by side.

Usage: /usr/bin/python3 bench/run_bench.py [--build build] [--rounds 9] [--against OTHER_BUILD] [--only PROGRAM]
"""
import argparse
import ctypes
import datetime
import os
import random
import select
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from run_e2e import start_display  # noqa: E402

from Xlib import X, XK, display as xdisplay
from Xlib.ext import damage, xtest

TITLE = "スケジュール管理ツール"


def typical_memo(rng):
    words = ["会議", "打合せ", "資料提出", "買い物", "病院", "歯医者", "誕生日", "予定確認", "Meeting 10:00", "call back",
             "report", "ジム", "図書館", "振込"]
    text = ""
    target = rng.randint(50, 400)
    while len(text.encode("cp932")) < target:
        text += rng.choice(words) + rng.choice(["、", " ", "\r\n", "。"])
    return text


def make_agenda(section, years, worst):
    rng = random.Random(years * 31 + worst)
    today = datetime.date.today()
    day = today.replace(year=today.year - years) + datetime.timedelta(days=1)
    lines = [b"[" + section.encode() + b"]"]
    big = ("表" * 2048).encode("cp932")
    while day <= today:
        memo = big if worst else typical_memo(rng).encode("cp932").replace(b"\r\n", b"\x0f")
        lines.append(day.strftime("%Y.%m.%d").encode() + b"=" + memo)
        day += datetime.timedelta(days=1)
    return b"\r\n".join(lines) + b"\r\n"


class Screen:
    def __init__(self, name):
        self.d = xdisplay.Display(name)
        self.root = self.d.screen().root
        self.d.damage_query_version()  # an extension answers only after this
        self.root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.d.sync()
        self.damages = {}

    def drain(self):
        """Forgets a finished program: X reuses its window ids."""
        self.d.sync()
        while self.d.pending_events():
            self.d.next_event()
        self.damages.clear()

    def next_event(self, deadline):
        # Block on the connection rather than poll, so the benchmark does not
        # take a core from the program it measures.
        while True:
            if self.d.pending_events():
                return self.d.next_event()
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError("no X event in time")
            select.select([self.d.fileno()], [], [], left)

    def watch(self, window):
        if window.id not in self.damages:
            try:
                self.damages[window.id] = window.damage_create(damage.DamageReportNonEmpty)
                self.d.flush()
            except Exception:
                pass

    def title(self, window):
        try:
            prop = window.get_full_property(self.d.intern_atom("_NET_WM_NAME"), self.d.intern_atom("UTF8_STRING"))
            return prop.value.decode() if prop else ""
        except Exception:
            return ""

    def wait_first_paint(self, title, timeout=30):
        """Returns (window, time of the first paint after the window with
        `title` was mapped)."""
        deadline = time.monotonic() + timeout
        mapped = None
        while True:
            ev = self.next_event(deadline)
            if ev.type == X.CreateNotify:
                self.watch(ev.window)
            elif ev.type == X.MapNotify and mapped is None and self.title(ev.window) == title:
                mapped = ev.window
            elif mapped is not None and ev.type == self.d.extension_event.DamageNotify and ev.drawable.id == mapped.id:
                self.d.damage_subtract(self.damages[mapped.id])
                return mapped, time.monotonic()

    def wait_paint(self, window, timeout=10):
        deadline = time.monotonic() + timeout
        while True:
            ev = self.next_event(deadline)
            if ev.type == self.d.extension_event.DamageNotify and ev.drawable.id == window.id:
                self.d.damage_subtract(self.damages[window.id])
                return time.monotonic()

    def settle(self, window, quiet=0.15):
        """Waits until the window has had no paint for `quiet` seconds."""
        last = time.monotonic()
        while time.monotonic() - last < quiet:
            try:
                ev = self.next_event(last + quiet)
            except TimeoutError:
                break
            if ev.type == self.d.extension_event.DamageNotify and ev.drawable.id == window.id:
                self.d.damage_subtract(self.damages[window.id])
                last = time.monotonic()

    def key(self, window, name):
        code = self.d.keysym_to_keycode(XK.string_to_keysym(name))
        xtest.fake_input(self.d, X.KeyPress, code)
        self.d.sync()
        t = time.monotonic()
        xtest.fake_input(self.d, X.KeyRelease, code)
        self.d.flush()
        return t

    def click(self, window, x, y):
        """Clicks at a point of the window; returns when the button went up,
        after the repaints of the press have passed."""
        pos = window.translate_coords(self.root, 0, 0)
        xtest.fake_input(self.d, X.MotionNotify, x=-pos.x + x, y=-pos.y + y)
        xtest.fake_input(self.d, X.ButtonPress, 1)
        self.d.sync()
        self.settle(window, 0.05)
        xtest.fake_input(self.d, X.ButtonRelease, 1)
        self.d.sync()
        return time.monotonic()


class RenameWatch:
    """Tells when a file is renamed into place in a folder. Waits on inotify
    rather than polling stat(), which would keep a core busy while the
    program, its second thread and the X server share the other one: on this
    two-core machine that polling added 1 to 8 ms to a save."""

    IN_MOVED_TO = 0x80

    def __init__(self, path):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.name = os.path.basename(path).encode()
        self.fd = self.libc.inotify_init1(os.O_CLOEXEC | os.O_NONBLOCK)
        if self.fd < 0 or self.libc.inotify_add_watch(self.fd, os.path.dirname(path).encode(),
                                                      self.IN_MOVED_TO) < 0:
            raise OSError(ctypes.get_errno(), "inotify")

    def drain(self):
        try:
            while os.read(self.fd, 65536):
                pass
        except BlockingIOError:
            pass

    def wait(self, timeout=10):
        """Returns the time the file was renamed into place."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError("the save did not happen")
            if not select.select([self.fd], [], [], left)[0]:
                continue
            at = time.monotonic()
            data = os.read(self.fd, 65536)
            pos = 0
            while pos < len(data):
                _, mask, _, length = struct.unpack_from("iIII", data, pos)
                name = data[pos + 16:pos + 16 + length].rstrip(b"\0")
                pos += 16 + length
                if mask & self.IN_MOVED_TO and name == self.name:
                    return at

    def close(self):
        os.close(self.fd)


def peak_mb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024.0
    return float("nan")


def floor_write(path, data, rounds):
    times = []
    for _ in range(rounds):
        t = time.monotonic()
        tmp = path + ".floor"
        with open(tmp, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.rename(tmp, path + ".floor-done")
        times.append(time.monotonic() - t)
    os.remove(path + ".floor-done")
    return statistics.median(times)


def run_program(screen, env, exe, title):
    t0 = time.monotonic()
    proc = subprocess.Popen([exe], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    window, t1 = screen.wait_first_paint(title)
    return proc, window, t1 - t0


def stop(proc):
    proc.kill()
    proc.wait()


def fmt(values):
    return "%.1f (%.1f–%.1f)" % (statistics.median(values) * 1e3, min(values) * 1e3, max(values) * 1e3)


def measure_switches_and_saves(screen, window, case):
    # Date switches among the latest dates (the end of the file, the most
    # read): Up in the list from the last date, first paint after it.
    window.set_input_focus(X.RevertToParent, X.CurrentTime)
    screen.click(window, 20, 18)
    screen.settle(window)
    screen.key(window, "End")
    screen.settle(window)
    for _ in range(15):
        t = screen.key(window, "Up")
        case["switches"].append(screen.wait_paint(window) - t)
        screen.settle(window, 0.05)
    # Saves: change the memo, press the update button.
    agenda = case["agenda"]
    watch = RenameWatch(agenda)
    for i in range(5):
        screen.click(window, 300, 150)
        # A 4096-byte memo cannot grow: shorten it instead.
        screen.key(window, "BackSpace" if case["worst"] else "a")
        screen.settle(window, 0.1)
        # The save is done when the new file has been renamed into place.
        watch.drain()
        t = screen.click(window, 124 + 88 + 36, 338)
        case["saves"].append(watch.wait() - t)
        screen.settle(window, 0.1)
        with open(agenda, "rb") as f:
            current = f.read()
        case["floors"].append(floor_write(agenda, current, 3))
    watch.close()
    if case["worst"]:
        return
    # Finding: F3 for the next "report" (in about a third of the memos),
    # from the key press until the window shows the match.
    screen.key(window, "End")
    screen.settle(window)
    for keys in (["ctrl+f"], list("report"), ["Return"], ["Escape"]):
        for name in keys:
            if name == "ctrl+f":
                ctrl = screen.d.keysym_to_keycode(XK.string_to_keysym("Control_L"))
                xtest.fake_input(screen.d, X.KeyPress, ctrl)
                screen.key(window, "f")
                xtest.fake_input(screen.d, X.KeyRelease, ctrl)
            else:
                screen.key(window, name)
            time.sleep(0.2)
    screen.settle(window, 0.3)
    for _ in range(15):
        t = screen.key(window, "F3")
        case["finds"].append(screen.wait_paint(window) - t)
        screen.settle(window, 0.05)
    # Another program writes the file (the shown memo changed): from its
    # rename into place until the window shows it.
    screen.click(window, 20, 18)
    screen.settle(window)
    screen.key(window, "End")
    screen.settle(window)
    agenda = case["agenda"]
    for i in range(5):
        with open(agenda, "rb") as f:
            lines = f.read().split(b"\r\n")
        lines[-2] = lines[-2].split(b"=")[0] + b"=refreshed %d" % i
        with open(agenda + ".new", "wb") as f:
            f.write(b"\r\n".join(lines))
        t = time.monotonic()
        os.rename(agenda + ".new", agenda)
        case["refreshes"].append(screen.wait_paint(window) - t)
        screen.settle(window, 0.2)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--rounds", type=int, default=9)
    ap.add_argument("--against")
    ap.add_argument("--only", choices=["tavlo", "tavlo_classic"])
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    xvfb, name = start_display()
    env = {k: v for k, v in os.environ.items() if not k.startswith("QT_QPA")}
    env["DISPLAY"] = name
    screen = Screen(name)
    work = tempfile.mkdtemp(prefix="tavlo-bench-")
    env["XDG_RUNTIME_DIR"] = work
    sets = [(1, False), (10, False), (30, False), (100, False), (30, True)]
    try:
        for program, empty in (("tavlo", "bench_empty_window_qt6"), ("tavlo_classic", "bench_empty_window_qt5")):
            if args.only and program != args.only:
                continue
            print("\n### %s\n" % program)
            floor_start, floor_mem, form_start = [], [], []
            cases = []
            for years, worst in sets:
                folder = os.path.join(work, "%s-%d-%d" % (program, years, worst))
                os.mkdir(folder)
                exe = os.path.join(folder, program)
                shutil.copy2(os.path.join(build, program), exe)
                agenda = os.path.join(folder, program + ".txt")
                data = make_agenda(program, years, worst)
                with open(agenda, "wb") as f:
                    f.write(data)
                cases.append(dict(years=years, worst=worst, exe=exe, agenda=agenda, size=len(data), starts=[],
                                  switches=[], saves=[], mems=[], floors=[], finds=[], refreshes=[], other=[]))
                if args.against:
                    os.mkdir(folder + "-against")
                    cases[-1]["other_exe"] = os.path.join(folder + "-against", program)
                    shutil.copy2(os.path.join(args.against, program), cases[-1]["other_exe"])
                    shutil.copy2(agenda, os.path.join(folder + "-against", program + ".txt"))
            # Round by round, every program once, so that whatever else the
            # machine does in the meantime weighs on all of them alike.
            for r in range(args.rounds):
                # The floor: the empty window of the same Qt.
                proc, window, took = run_program(screen, env, os.path.join(build, empty), "empty")
                screen.settle(window)
                floor_start.append(took)
                floor_mem.append(peak_mb(proc.pid))
                stop(proc)
                screen.drain()
                # The program's own window with nothing loaded (its controls,
                # captions and Japanese font): what the window itself costs.
                proc, window, took = run_program(screen, env, os.path.join(build, empty.replace("empty", "form")), "form")
                screen.settle(window)
                form_start.append(took)
                stop(proc)
                screen.drain()
                for case in cases:
                    for turn in ([0, 1] if r % 2 else [1, 0]) if args.against else []:
                        if turn == 0:  # the other build's program, on the same data
                            proc, window, took = run_program(screen, env, case["other_exe"], TITLE)
                            case["other"].append(took)
                        else:
                            proc, window, took = run_program(screen, env, case["exe"], TITLE)
                            case["starts"].append(took)
                        screen.settle(window)
                        stop(proc)
                        screen.drain()
                    proc, window, took = run_program(screen, env, case["exe"], TITLE)
                    if not args.against:  # else measured in turn with the other build
                        case["starts"].append(took)
                    screen.settle(window)
                    if r == 0:
                        measure_switches_and_saves(screen, window, case)
                    case["mems"].append(peak_mb(proc.pid))
                    stop(proc)
                    screen.drain()
            print("Empty Qt window: start-up %s ms, peak memory %.1f MB\n" % (fmt(floor_start), statistics.median(floor_mem)))
            print("The main window alone, nothing loaded: start-up %s ms (%.2fx the empty window)\n"
                  % (fmt(form_start), statistics.median(form_start) / statistics.median(floor_start)))
            print("| data set | file | start-up ms | ratio | date switch ms | save ms (floor) | ratio | peak MB | ratio |")
            print("|---|---|---|---|---|---|---|---|---|")
            for case in cases:
                label = "%d years of %s memos" % (case["years"], "4096-byte" if case["worst"] else "typical")
                save = statistics.median(case["saves"])
                floor = statistics.median(case["floors"])
                starts, mems = case["starts"], case["mems"]
                print("| %s | %.1f MB | %s | %.2f | %s | %.1f (%.1f) | %.2f | %.1f | %.2f |" % (
                    label, case["size"] / 1e6, fmt(starts), statistics.median(starts) / statistics.median(floor_start),
                    fmt(case["switches"]), save * 1e3, floor * 1e3, save / floor, statistics.median(mems),
                    statistics.median(mems) / statistics.median(floor_mem)))
            if args.against:
                print("\n| data set | first paint, this build ms | first paint, %s ms | ratio |" % args.against)
                print("|---|---|---|---|")
                for case in cases:
                    print("| %d years of %s memos | %s | %s | %.3f |" % (
                        case["years"], "4096-byte" if case["worst"] else "typical", fmt(case["starts"]), fmt(case["other"]),
                        statistics.median(case["starts"]) / statistics.median(case["other"])))
            print("\n| data set | date switch ms | find next (F3) ms | another program's write shown ms |")
            print("|---|---|---|---|")
            for case in cases:
                if case["finds"]:
                    print("| %d years of typical memos | %s | %s | %s |" % (case["years"], fmt(case["switches"]),
                                                                        fmt(case["finds"]), fmt(case["refreshes"])))
            sys.stdout.flush()
    finally:
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)
    print("\n### Store operations (in process)\n")
    sys.stdout.flush()
    subprocess.run([os.path.join(build, "bench_store_qt6")], check=True)


if __name__ == "__main__":
    main()
