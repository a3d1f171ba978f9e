"""A screen reader's view of the tool against the demo fleet: every control
it can focus or act on has a role and a name, in each state of the window;
the list's rows come in the order they are seen; a selection made through
it is announced, leaving "partly checked" for "unchecked" too; greyed
buttons are not enabled; a round of Tab stops only at controls that show;
and a closed login dialog leaves no password to read and no focus behind."""

import subprocess
import time
import unittest

import pyatspi

from tool_session import FocusWatch, ToolSession, do_action, keys, named, pump, type_text


def focus_window(title):
    """What a window manager does for a window that comes up; the virtual
    display has none."""
    subprocess.run(["xdotool", "search", "--sync", "--name", title, "windowfocus", "--sync"], check=True)


class AccessibleTree(unittest.TestCase):
    def setUp(self):
        self.session = ToolSession().start()
        self.addCleanup(self.session.stop)
        self.checked = []
        pyatspi.Registry.registerEventListener(self.on_checked, "object:state-changed:checked")
        self.addCleanup(pyatspi.Registry.deregisterEventListener, self.on_checked, "object:state-changed:checked")

    def on_checked(self, event):
        self.checked.append((event.source.getRoleName(), event.source.name, event.detail1))

    def wait_for_checked(self, expected, timeout=5.0):
        deadline = time.monotonic() + timeout
        while expected not in self.checked and time.monotonic() < deadline:
            pump()
            time.sleep(0.05)
        self.assertIn(expected, self.checked)

    def tab_round(self):
        """Tab until the keyboard is back where it started: every stop shows."""
        focus = FocusWatch(self.session)
        self.addCleanup(focus.close)
        focus_window("Orvane Tessaly")
        stops = []
        for _ in range(60):
            keys("Tab")
            node = focus.holder()
            self.assertIsNotNone(node, "Tab stopped at what is not showing: %s" % focus.node)
            if stops and node == stops[0]:
                return stops
            stops.append(node)
        self.fail("Tab never came round: %s" % stops)

    def test_what_a_screen_reader_finds(self):
        session = self.session
        gate = session.find(named("list item", "Harbour Gate", ", logged in"), timeout=30)
        self.assertIsNotNone(gate, "the server rows are not exposed")
        warehouse = session.find(named("list item", "Warehouse", "not logged in"), timeout=30)
        self.assertIsNotNone(warehouse, "the refusing system is not exposed")
        reports = {"welcome": session.walk_report()}

        rows = session.find(named("list", "Auto-Detected Servers"))
        children = [rows.getChildAtIndex(i) for i in range(rows.childCount)]
        tops = [child.queryComponent().getExtents(pyatspi.DESKTOP_COORDS).y for child in children
                if child.getRole() == pyatspi.ROLE_LIST_ITEM]
        self.assertEqual(tops, sorted(tops), "the list's rows are not in the order they are seen")

        # Selecting announces "checked"; the select-all box then goes from
        # partly checked to unchecked, which must be announced too.
        do_action(gate, "Toggle")
        self.wait_for_checked(("list item", gate.name, 1))
        self.assertIsNotNone(session.find(named("text", "Port")), "no settings page")
        select_all = session.find(named("check box", "select / unselect all"))
        self.assertTrue(select_all.getState().contains(pyatspi.STATE_INDETERMINATE))
        do_action(select_all, "Toggle")
        self.wait_for_checked(("check box", "select / unselect all", 0))
        do_action(session.find(named("list item", "Harbour Gate", "not selected")), "Toggle")
        self.assertIsNotNone(session.find(named("text", "Port")), "no settings page")
        reports["one server"] = session.walk_report()

        # Nothing edited yet: both bottom buttons are greyed.
        for name in ["Apply changes", "Cancel"]:
            states = session.find(named("push button", name)).getState()
            self.assertFalse(states.contains(pyatspi.STATE_ENABLED) or states.contains(pyatspi.STATE_SENSITIVE),
                             "%s is greyed but reads as enabled" % name)

        do_action(session.find(named("list item", "Harbour Quay", "not selected")), "Toggle")
        self.assertIsNotNone(session.find(named("push button", "Edit all")))
        for button in [node for node in session.nodes(showing_only=True) if node.name == "Edit all"]:
            do_action(button, "Press")
        self.assertIsNotNone(session.find(named("text", "System Name")))
        reports["several servers, edit all"] = session.walk_report()
        names = [node.name for node in self.tab_round()]
        self.assertEqual((names[0], names[-1]), ("select / unselect all", "System Password"), names)

        # Below the fold of the list, where Qt reports it as not showing.
        do_action(session.find(named("push button", "enter the password", "Warehouse"), showing_only=False),
                  "Press")
        self.assertIsNotNone(session.find(named("password text", "")), "no login dialog")
        reports["login dialog"] = session.walk_report()
        focus_window("Login to server")
        type_text("not-the-password")
        keys("Escape")
        self.assertIsNone(session.find(named("password text", ""), timeout=5), "the login dialog stays up")
        field = session.find(named("password text", ""), showing_only=False)
        self.assertEqual(field.queryText().getText(0, -1), "", "a closed dialog keeps the typed password")
        hidden_focus = [node for window in session.windows() if not window.getState().contains(pyatspi.STATE_SHOWING)
                        for node in session.nodes(window) if node.getState().contains(pyatspi.STATE_FOCUSED)]
        self.assertEqual(hidden_focus, [], "closed dialogs hold the focus")

        for state, report in reports.items():
            print("%-26s nodes %3d, focusable or actionable %3d, lacking a role or a name %d"
                  % (state, report["nodes"], report["interactive"], len(report["lacking"])))
        for state, report in reports.items():
            self.assertEqual(report["lacking"], [], state)


if __name__ == "__main__":
    unittest.main()
