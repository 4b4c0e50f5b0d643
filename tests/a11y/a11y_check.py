#!/usr/bin/python3
"""Reads the running volnex through the accessibility bus (AT-SPI), as a
screen reader or an accessibility checker does.

  a11y_check.py box CAPTION   the message box captioned CAPTION is on the
                              bus under that name
  a11y_check.py ok CAPTION    presses that box's button
  a11y_check.py form LABEL=TEXT ...
                              the display each label names shows TEXT
  a11y_check.py pages FILE    the page list shows the pages of the JSON
                              lines file FILE, in the same order

Waits up to 20 seconds for what it looks for; exits 1 when it is not there.
"""
import json
import sys
import time

import pyatspi

DEADLINE_S = 20


# The program names itself by its application id (its desktop entry's name).
APP_NAME = "org.volnex.Volnex"


def app():
    for candidate in pyatspi.Registry.getDesktop(0):
        if candidate is not None and candidate.name == APP_NAME:
            return candidate
    return None


def nodes(root):
    stack = [root]
    while stack:
        node = stack.pop()
        if node is None:
            continue
        yield node
        try:
            stack.extend(node[i] for i in range(node.childCount))
        except Exception:  # a node that went away meanwhile
            pass


def text_of(node):
    try:
        return node.queryText().getText(0, -1)
    except NotImplementedError:
        return node.name


def labelled_by(node):
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            return [relation.getTarget(i).name for i in range(relation.getNTargets())]
    return []


def wait_for(what, find):
    deadline = time.monotonic() + DEADLINE_S
    last = None
    while time.monotonic() < deadline:
        try:
            found, last = find()
            if found:
                return True
        except Exception as error:  # the tree changes while it is read
            last = repr(error)
        time.sleep(0.1)
    print(f"FAIL  {what}: {last}")
    return False


def check_box(caption, press):
    box = {}

    def find():
        root = app()
        if root is None:
            return False, "volnex is not on the bus"
        for node in nodes(root):
            if node.getRole() in (pyatspi.ROLE_ALERT, pyatspi.ROLE_DIALOG):
                box["node"] = node
                return node.name == caption, f"a box named {node.name!r}"
        return False, "no message box"

    if not wait_for(f"message box named {caption!r}", find):
        return False
    if not press:
        print(f"PASS  message box named {caption!r} on the accessibility bus")
        return True
    for node in nodes(box["node"]):
        if node.getRole() == pyatspi.ROLE_PUSH_BUTTON:
            node.queryAction().doAction(0)
            return True
    print("FAIL  the box has no button")
    return False


def check_form(expected):
    def find():
        root = app()
        if root is None:
            return False, "volnex is not on the bus"
        shown = {}
        for node in nodes(root):
            for label in labelled_by(node):
                shown[label] = text_of(node)
        return all(shown.get(k) == v for k, v in expected.items()), shown

    if not wait_for(f"displays {expected}", find):
        return False
    for label, text in expected.items():
        print(f"PASS  {label!r} display reads {text!r}")
    return True


def page_rows(root):
    """The page list's lines, first to last."""
    for node in nodes(root):
        if node.getRole() == pyatspi.ROLE_TABLE:
            cells = [node[i] for i in range(node.childCount)]
            return [c.name for c in cells if c.getRole() == pyatspi.ROLE_TABLE_CELL]
    return []


CONTROL_NAMES = ("NUL SOH STX ETX EOT ENQ ACK BEL BS HT LF VT FF CR SO SI SLE CS1 DC2 "
                 "DC3 DC4 NAK SYN ETB CAN EM SUB ESC FS GS RS US").split()


def as_listed(text):
    """A logged text as the list shows it: control characters by name."""
    return "".join(f"<{CONTROL_NAMES[ord(c)]}>" if ord(c) < 32 else c for c in text)


def check_pages(path):
    records = []

    def find():
        # The log's writer may not have written the last pages yet.
        try:
            with open(path, encoding="utf-8") as log:
                records[:] = [json.loads(line) for line in log if line.endswith("\n")]
        except FileNotFoundError:
            return False, f"no {path} yet"
        root = app()
        if root is None:
            return False, "volnex is not on the bus"
        rows = page_rows(root)
        # A page line starts with its date; a rejected page's reason follows.
        pages = []
        for row in rows:
            if row.startswith("\t") and pages:
                pages[-1][1] = row[1:]
            else:
                pages.append([row, ""])
        if len(pages) != len(records):
            return False, f"{len(pages)} pages listed, {len(records)} logged"
        for (line, reason), record in zip(pages, records):
            # "2026-12-09T13:21:57.123+01:00" is listed as "12/09/2026 13:21:57".
            day, clock = record["time"].split("T")
            year, month, date = day.split("-")
            stamp = f"{month}/{date}/{year} {clock[:8]}"
            # The log leaves out the reason's trailing blank ("TIMED OUT ").
            if not line.startswith(stamp) or as_listed(record["pager"]) not in line or \
                    as_listed(record["message"]) not in line or \
                    reason.rstrip() != record["result"]:
                return False, f"listed {line!r} {reason!r}, logged {record}"
        return True, ""

    if not wait_for(f"the page list shows the pages of {path}", find):
        return False
    print(f"PASS  the page list shows the {len(records)} logged pages, in order")
    return True


def main():
    if len(sys.argv) >= 3 and sys.argv[1] in ("box", "ok"):
        return 0 if check_box(sys.argv[2], sys.argv[1] == "ok") else 1
    if len(sys.argv) >= 3 and sys.argv[1] == "form":
        expected = dict(arg.split("=", 1) for arg in sys.argv[2:])
        return 0 if check_form(expected) else 1
    if len(sys.argv) == 3 and sys.argv[1] == "pages":
        return 0 if check_pages(sys.argv[2]) else 1
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main())
