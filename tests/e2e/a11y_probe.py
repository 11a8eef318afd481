#!/usr/bin/python3
"""Reads what a screen reader sees of a running program over AT-SPI.

  a11y_probe.py tree APP           prints the accessible tree as JSON lines
  a11y_probe.py focus APP SECONDS  prints, as JSON lines, each object that
                                   gains the focus during the next SECONDS
"""
import json
import sys

import pyatspi
from gi.repository import GLib


def application(name):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == name:
            return app
    raise SystemExit("no application %r on the accessibility bus" % name)


def describe(acc):
    states = [pyatspi.stateToString(s) for s in acc.getState().getStates()]
    relations = {pyatspi.relationToString(r.getRelationType()): [r.getTarget(i).name for i in range(r.getNTargets())]
                 for r in acc.getRelationSet()}
    return {"role": acc.getRoleName(), "name": acc.name, "states": states, "relations": relations}


def tree(acc, depth=0):
    print(json.dumps(dict(describe(acc), depth=depth), ensure_ascii=False))
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None:
            tree(child, depth + 1)


def focus(seconds):
    def gained(event):
        if event.detail1:
            print(json.dumps(describe(event.source), ensure_ascii=False), flush=True)
    pyatspi.Registry.registerEventListener(gained, "object:state-changed:focused")
    print(json.dumps({"listening": True}), flush=True)
    GLib.timeout_add(int(seconds * 1000), lambda: pyatspi.Registry.stop())
    pyatspi.Registry.start()


if __name__ == "__main__":
    if sys.argv[1] == "tree":
        for i in range(application(sys.argv[2]).childCount):
            tree(application(sys.argv[2]).getChildAtIndex(i))
    else:
        application(sys.argv[2])
        focus(float(sys.argv[3]))
