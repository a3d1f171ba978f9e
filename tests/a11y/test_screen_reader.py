"""The demo job by keys alone, as a blind operator does it, heard through the
real screen reader (Orca): select a server, log in to "Warehouse" and select
it, "Edit all", set a port, type a zone into the closed picker, rename,
apply, read the summary row by row, and "Ok". Each step says what Orca must
speak and where the keyboard must be; after every key a focused, showing
node must hold the keyboard. At the end the simulated servers must hold the
new values."""

import re
import subprocess
import unittest
from urllib.parse import quote

from tool_session import FocusWatch, ScreenReader, ToolSession, keys, named, pump, type_text
from sim_harness import wait_until

NEW_NAME = "Orca Fleet"
NEW_PORT = 7080
CHANGED = ["Harbour Gate", "Warehouse North", "Warehouse South", "Warehouse Dock"]
# A summary row, read as one line: server, setting, value and what happened.
SUMMARY_ROW = r"^[^:]+: [a-z /]+: .+, changed\.?$"


def typed(text):
    return ("type", text)


# Keys (xdotool names, or typed text), the lines Orca must speak (a pattern
# each), and the node that must hold the keyboard after them.
STEPS = [
    (["Tab"], [r"^select / unselect all check box not checked"], named("check box", "select / unselect all")),
    (["Tab"], [r"^Unassigned system"], named("list item", "Unassigned system")),
    (["Down"] * 3, [r"^Harbour Gate\b"], named("list item", "Harbour Gate")),
    # The row's "selected" is announced too, racing the settings page's
    # burst of events (tests/qml/tst_keyboard.qml holds it).
    (["space"], [], named("list item", "Harbour Gate", "selected, ")),
    (["Down"] * 4, [r"^Warehouse\.$"], named("list item", "Warehouse")),
    (["Down"], [r"^enter the password push button"], named("push button", "enter the password")),
    (["Return"], [r"^Password password text"], named("password text", "Password")),
    ([typed("Tessaly-Demo-42"), "Return"], [r"^notification Logged in to system Warehouse"],
     named("list item", "Warehouse", "system, logged in,")),
    (["space"], [], named("list item", "Warehouse", "3 of 3 servers selected")),
    (["Tab"], [r"^select / unselect all check box partially checked"], named("check box", "select / unselect all")),
    (["Tab"], [r"^Edit all push button", r"^Configure Device Network Settings"], named("push button", "Edit all")),
    (["Return"], [r"^Enable DHCP on all servers check box"], named("check box", "Enable DHCP on all servers")),
    (["Tab", typed(str(NEW_PORT))], [r"^Port text"], named("text", "Port")),
    (["Tab"], [r"^Edit all push button", r"^Set Device Date & Time"], named("push button", "Edit all")),
    (["Return"], [r"^Time zone combo box"], named("combo box", "Time zone")),
    # The servers' clocks differ: the current one is sent; ticking it puts
    # the workstation's zone in the picker, which is said aloud.
    (["Tab"] * 8, [r"^Set current date/time check box not checked"], named("check box", "Set current date/time")),
    (["space"], [r"^notification Time zone changed to \(UTC"], named("check box", "Set current date/time")),
    (["shift+Tab"], [r"^Time zone combo box"], named("combo box", "Time zone")),
    ([typed("tokyo")], [r"^\(UTC\+09:00\) Asia/Tokyo$"], named("combo box", "Time zone")),
    (["Tab", "Tab"], [r"^Set System Name and Password"], named("push button", "Edit all")),
    (["Return"], [r"^System Name text"], named("text", "System Name")),
    ([typed(NEW_NAME), "Tab", "Tab", "Tab"], [r"^Apply changes push button"], named("push button", "Apply changes")),
    (["Return"], [r"^Applying changes \d+ percent"], named("progress bar", "Applying changes")),
    # No key: the run ends and the keyboard lands on the result line.
    ([], [r"^\d+ of \d+ successful changed label"], named("label", "")),
    (["Tab"], [r"^Changelog collapsed push button"], named("push button", "Changelog")),
    (["space"], [r"^notification Changelog expanded"], named("push button", "Changelog")),
    (["Tab"], [r"^Changelog\.$", SUMMARY_ROW], named("list item", "")),
]


class ScreenReaderWalk(unittest.TestCase):
    def setUp(self):
        self.session = ToolSession().start()
        self.addCleanup(self.session.stop)
        self.reader = ScreenReader(self.session).start()
        self.addCleanup(self.reader.stop)
        self.focus = FocusWatch(self.session)
        self.addCleanup(self.focus.close)
        self.presses = 0

    def keyboard_node(self, what):
        """The node holding the keyboard; fails when none does."""
        node = self.focus.holder()
        self.assertIsNotNone(node, "the keyboard is lost after %s (last focused: %s)" % (what, self.focus.node))
        return node

    def press(self, key):
        if isinstance(key, tuple):
            type_text(key[1])
            self.presses += len(key[1])
        else:
            keys(key)
            self.presses += 1
        self.keyboard_node(repr(key))

    def hear(self, patterns, since, what, timeout=10.0):
        """Waits until each pattern matches a line Orca spoke since then."""
        def heard():
            pump()
            spoken = self.reader.lines(since)
            return all(any(re.search(pattern, line) for line in spoken) for pattern in patterns)
        self.assertTrue(wait_until(heard, timeout=timeout, step=0.1),
                        "after %s Orca did not say %r; it said %r (the keyboard is on %s)" % (
                            what, patterns, self.reader.lines(since), self.focus.node))

    def step(self, presses, patterns, landing, timeout=10.0):
        since = len(self.reader.lines())
        for key in presses:
            self.press(key)
        what = " ".join(key if isinstance(key, str) else "typing %r" % key[1] for key in presses) or "waiting"
        self.hear(patterns, since, what, timeout)
        self.assertTrue(wait_until(lambda: landing(self.keyboard_node(what)), timeout=timeout, step=0.1),
                        "after %s the keyboard is on %s %r, %r" % (
                            what, self.focus.node.getRoleName(), self.focus.node.name, self.focus.node.description))
        return since

    def test_the_demo_job_heard_through_orca(self):
        session = self.session
        self.assertTrue(wait_until(lambda: "Harbour Gate" in {entry["name"] for entry in session.fleet.log()
                                                              if entry.get("authorized")}, timeout=30),
                        "the tool did not log in to the fleet")
        # A slow server keeps the progress page up long enough to be heard.
        session.fleet.knobs(quote("Warehouse Dock"), delayMs=1500)
        since = len(self.reader.lines())
        subprocess.run(["xdotool", "search", "--sync", "--name", "Orvane Tessaly", "windowactivate", "--sync"],
                       check=True)
        self.hear([r"^Orvane Tessaly Server Configuration Tool frame"], since, "showing the window")

        for presses, patterns, landing in STEPS:
            timeout = 40.0 if not presses else 10.0
            self.step(presses, patterns, landing, timeout)

        # The result line counts the rows; each one is heard on its own.
        result = next(line for line in reversed(self.reader.lines()) if re.match(r"^\d+ of \d+ successful", line))
        rows = int(re.match(r"^(\d+) of (\d+)", result).group(1))
        self.assertEqual(rows, int(re.match(r"^(\d+) of (\d+)", result).group(2)), result)
        heard_rows = [line for line in self.reader.lines() if re.match(SUMMARY_ROW, line)]
        for _ in range(rows - 1):
            since = self.step(["Down"], [SUMMARY_ROW], named("list item", ""))
            heard_rows += [line for line in self.reader.lines(since) if re.match(SUMMARY_ROW, line)]
        self.assertEqual(len(set(heard_rows)), rows, heard_rows)
        for name in CHANGED:
            self.assertTrue(any(row.startswith(name) and ": port: %d," % NEW_PORT in row for row in heard_rows),
                            name)

        self.step(["Tab"], [r"^Ok push button"], named("push button", "Ok"))
        self.step(["Return"], [r"^Edit all push button"], named("push button", "Edit all"))

        print("\n%d key presses; Orca said:\n  %s" % (self.presses, "\n  ".join(self.reader.lines())))
        for name in CHANGED:
            state = session.fleet.state(quote(name))
            self.assertEqual((state["systemName"], state["port"]), (NEW_NAME, NEW_PORT), name)
        self.assertNotEqual(session.fleet.state(quote("Harbour Quay"))["systemName"], NEW_NAME)


if __name__ == "__main__":
    unittest.main()
