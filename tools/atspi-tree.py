#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# Prints what a screen reader sees of a running program on the accessibility bus (AT-SPI):
# one line per object with its role, name, description, size, states and actions.
#
#   /usr/bin/python3 tools/atspi-tree.py [program name, default NUVUpload]
#
# Needs python3-pyatspi; docs/ARCHITECTURE.md (Accessibility) says how to get the bus up.
import sys

import pyatspi

STATES = [(pyatspi.STATE_SHOWING, None, "hidden"), (pyatspi.STATE_ENABLED, None, "disabled"),
          (pyatspi.STATE_FOCUSABLE, "focusable", None), (pyatspi.STATE_FOCUSED, "focused", None)]


def line(node):
    states = node.getState()
    flags = [on if states.contains(s) else off for s, on, off in STATES]
    try:
        box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        size = "%dx%d@%d,%d" % (box.width, box.height, box.x, box.y)
    except NotImplementedError:
        size = "-"
    try:
        action = node.queryAction()
        flags += ["[%s]" % ",".join(action.getName(i) for i in range(action.nActions))] if action.nActions else []
    except NotImplementedError:
        pass
    description = " (%s)" % node.description if node.description else ""
    return "%s %r%s %s %s" % (node.getRoleName(), node.name, description, size, " ".join(f for f in flags if f))


def dump(node, depth):
    print("  " * depth + line(node))
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            dump(child, depth + 1)


name = sys.argv[1] if len(sys.argv) > 1 else "NUVUpload"
desktop = pyatspi.Registry.getDesktop(0)
apps = [desktop.getChildAtIndex(i) for i in range(desktop.childCount)]
found = [app for app in apps if app is not None and app.name == name]
if not found:
    sys.exit("%s is not on the accessibility bus (programs there: %s)" % (name, [a.name for a in apps if a]))
for app in found:
    dump(app, 0)
