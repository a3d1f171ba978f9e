"""The demo flow through real key events, without a mouse: into the list,
select a Harbour server, log in to "Warehouse" and select it, rename the
system and change the port, apply, and read the summary; the simulated
servers must hold the new values."""

import re
import subprocess
import time
import unittest
from urllib.parse import quote

import pyatspi
from gi.repository import GLib

from tool_session import ToolSession, named
from sim_harness import wait_until

NEW_NAME = "Keyboard Fleet"
NEW_PORT = 7080
CHANGED = ["Harbour Gate", "Warehouse North", "Warehouse South", "Warehouse Dock"]


def keys(*names):
    subprocess.run(["xdotool", "key", "--delay", "80"] + list(names), check=True)


# What a window manager does for a window that comes up; the virtual display
# has none.
def focus_window(title):
    subprocess.run(["xdotool", "search", "--sync", "--name", title, "windowfocus", "--sync"], check=True)


def type_text(text):
    subprocess.run(["xdotool", "type", "--delay", "80", text], check=True)


class KeyboardFlow(unittest.TestCase):
    def setUp(self):
        self.session = ToolSession().start()
        self.addCleanup(self.session.stop)

    def focused_matches(self, predicate, timeout=3.0):
        return wait_until(lambda: (lambda node: node is not None and predicate(node))(self.session.focused()),
                          timeout=timeout, step=0.1)

    def press_until(self, key, predicate, limit=30):
        """Presses key until the focus is on a node for which predicate holds."""
        for _ in range(limit):
            keys(key)
            if self.focused_matches(predicate, timeout=1.0):
                return
        focused = self.session.focused()
        self.fail("%s never reached the control; the focus is on %s" % (
            key, focused.getRoleName() + " " + repr(focused.name) if focused else "nothing"))

    def test_demo_flow_by_keyboard(self):
        session = self.session
        # Found and logged in where it can be: seen from the servers' side,
        # so that nothing here relies on what the window shows.
        def logins():
            entries = session.fleet.log()
            return ({entry["name"] for entry in entries if entry.get("authorized")},
                    {entry["name"] for entry in entries if entry.get("status") == 401})
        self.assertTrue(wait_until(lambda: "Harbour Gate" in logins()[0] and "Warehouse North" in logins()[1],
                                   timeout=30), "the tool did not log in to the fleet")
        focus_window("Orvane Tessaly")

        self.press_until("Tab", named("check box", "select / unselect all"), limit=5)
        self.press_until("Tab", named("list item", ""), limit=2)
        self.press_until("Down", named("list item", "Harbour Gate"))
        keys("space")
        self.assertTrue(self.focused_matches(named("list item", "Harbour Gate", "selected, ")),
                        "Space did not select the server")

        self.press_until("Down", named("list item", "Warehouse"))
        self.press_until("Down", named("push button", "enter the password"), limit=1)
        keys("Return")
        focus_window("Login to server")
        self.assertTrue(self.focused_matches(named("password text", ""), timeout=5), "no password field")
        type_text("Tessaly-Demo-42")
        keys("Return")
        focus_window("Orvane Tessaly")
        self.assertTrue(self.focused_matches(named("list item", "Warehouse", "logged in, "), timeout=10),
                        "the keyboard is not back on the system, logged in")
        keys("space")
        self.assertTrue(self.focused_matches(named("list item", "Warehouse", "3 of 3 servers selected")),
                        "Space did not select the system")

        # Progress reaches screen readers as the bar's value, with its range.
        progress = []

        def on_value(event):
            if event.source.getRole() == pyatspi.ROLE_PROGRESS_BAR:
                value = event.source.queryValue()
                progress.append((value.currentValue, value.maximumValue))

        pyatspi.Registry.registerEventListener(on_value, "object:property-change:accessible-value")
        session.fleet.knobs(quote("Warehouse Dock"), delayMs=1500)

        self.press_until("Tab", named("push button", "Edit all", "Set System Name and Password"))
        keys("Return")
        self.press_until("Tab", named("text", "System Name"))
        type_text(NEW_NAME)
        self.press_until("shift+Tab", named("push button", "Edit all", "Configure Device Network Settings"))
        keys("Return")
        self.press_until("Tab", named("text", "Port"))
        type_text(str(NEW_PORT))
        self.press_until("Tab", named("push button", "Apply changes"))
        keys("Return")

        summary = None
        deadline = time.monotonic() + 30
        while summary is None and time.monotonic() < deadline:
            GLib.MainContext.default().iteration(False)
            summary = session.find(lambda node: re.match(r"\d+ of \d+ successful changed", node.name or ""),
                                   timeout=0.2)
        pyatspi.Registry.deregisterEventListener(on_value, "object:property-change:accessible-value")
        self.assertIsNotNone(summary, "no summary")
        self.assertEqual(summary.name, "8 of 8 successful changed")
        self.press_until("Tab", named("push button", "Changelog"))
        keys("Return")
        self.assertIsNotNone(session.find(lambda node: node.getRoleName() == "list item"
                                          and (node.name or "").endswith(", changed")), "no summary row")
        report = session.walk_report()
        print("summary: nodes %d, focusable or actionable %d, lacking a role or a name %d"
              % (report["nodes"], report["interactive"], len(report["lacking"])))
        self.assertEqual(report["lacking"], [])
        self.assertTrue(any(0 < value < 8 and maximum == 8 for value, maximum in progress),
                        "the progress bar announced no count: %r" % progress)

        for name in CHANGED:
            state = session.fleet.state(quote(name))
            self.assertEqual((state["systemName"], state["port"]), (NEW_NAME, NEW_PORT), name)
        self.assertNotEqual(session.fleet.state(quote("Harbour Quay"))["systemName"], NEW_NAME)


if __name__ == "__main__":
    unittest.main()
