"""A screen reader's view of the tool against the demo fleet: every control
it can focus or act on has a role and a name, in each state of the window, and
a selection made through it is announced as a state change."""

import time
import unittest

import pyatspi
from gi.repository import GLib

from tool_session import ToolSession, do_action, named


class AccessibleTree(unittest.TestCase):
    def test_every_control_has_a_role_and_a_name(self):
        checked = []

        def on_checked(event):
            if event.detail1 == 1:
                checked.append(event.source.name)

        with ToolSession() as session:
            gate = session.find(named("list item", "Harbour Gate", ", logged in"), timeout=30)
            self.assertIsNotNone(gate, "the server rows are not exposed")
            warehouse = session.find(named("list item", "Warehouse", "not logged in"), timeout=30)
            self.assertIsNotNone(warehouse, "the refusing system is not exposed")
            reports = {"welcome": session.walk_report()}

            pyatspi.Registry.registerEventListener(on_checked, "object:state-changed:checked")
            do_action(gate, "Toggle")
            deadline = time.monotonic() + 5
            while not any(name.startswith("Harbour Gate") for name in checked) and time.monotonic() < deadline:
                GLib.MainContext.default().iteration(False)
                time.sleep(0.05)
            pyatspi.Registry.deregisterEventListener(on_checked, "object:state-changed:checked")
            self.assertTrue(any(name.startswith("Harbour Gate") for name in checked),
                            "selecting a server announced no checked state: %r" % checked)
            self.assertIsNotNone(session.find(named("text", "Port")), "no settings page")
            reports["one server"] = session.walk_report()

            do_action(session.find(named("list item", "Harbour Quay", "not selected")), "Toggle")
            self.assertIsNotNone(session.find(named("push button", "Edit all")))
            for button in [node for node in session.nodes(showing_only=True) if node.name == "Edit all"]:
                do_action(button, "Press")
            self.assertIsNotNone(session.find(named("text", "System Name")))
            reports["several servers, edit all"] = session.walk_report()

            # Below the fold of the list, where Qt reports it as not showing.
            do_action(session.find(named("push button", "enter the password", "Warehouse"), showing_only=False),
                      "Press")
            self.assertIsNotNone(session.find(named("password text", "")), "no login dialog")
            reports["login dialog"] = session.walk_report()

        for state, report in reports.items():
            print("%-26s nodes %3d, focusable or actionable %3d, lacking a role or a name %d"
                  % (state, report["nodes"], report["interactive"], len(report["lacking"])))
        for state, report in reports.items():
            self.assertEqual(report["lacking"], [], state)


if __name__ == "__main__":
    unittest.main()
