"""Runs the tool on the virtual display beside the demo fleet, and reads it
through the accessibility bus as a screen reader does.

Run inside scripts/netns.sh and dbus-run-session: the bus, the virtual display
and the fleet then belong to this run alone."""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "peer_sim"))

import pyatspi  # noqa: E402
from gi.repository import GLib  # noqa: E402
from sim_harness import Fleet, wait_until  # noqa: E402

DEMO_FLEET = os.path.join(ROOT, "tools", "peer-sim", "fleets", "demo.json")
# The roles that say nothing of what a node is.
NO_ROLES = {pyatspi.ROLE_INVALID, pyatspi.ROLE_UNKNOWN}


def action_names(node):
    try:
        action = node.queryAction()
    except NotImplementedError:
        return []
    return [action.getName(i) for i in range(action.nActions)]


def describe(node):
    return "%s %r" % (node.getRoleName(), node.name)


def do_action(node, name):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) == name:
            action.doAction(i)
            return
    raise AssertionError("%s offers no action %r" % (describe(node), name))


def named(role, prefix, description=None):
    """A predicate on showing nodes: role name, name prefix, text in the description."""
    def predicate(node):
        return (node.getRoleName() == role and (node.name or "").startswith(prefix)
                and (description is None or description in (node.description or "")))
    return predicate


def keys(*names):
    """Real key presses on the session's display."""
    subprocess.run(["xdotool", "key", "--delay", "60"] + list(names), check=True)


def type_text(text):
    subprocess.run(["xdotool", "type", "--delay", "60", text], check=True)


class ToolSession:
    """The tool and the demo fleet, started afresh."""

    def __init__(self, tool=None):
        self.tool = tool or os.environ["TESSALY_TOOL"]
        self.directory = tempfile.TemporaryDirectory()
        self.fleet = None
        self.display = None
        self.process = None
        self.app = None

    def start_display(self):
        """A virtual display of its own; Xvfb picks a free number itself."""
        read_end, write_end = os.pipe()
        self.display = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                                         "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as numbers:
            number = numbers.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        os.environ["DISPLAY"] = ":" + number
        if not wait_until(lambda: subprocess.run(["xdpyinfo"], stdout=subprocess.DEVNULL,
                                                 stderr=subprocess.DEVNULL).returncode == 0, timeout=10):
            raise RuntimeError("the virtual display :%s does not answer" % number)
        # The bus launcher, started on demand by the session bus, announces
        # the accessibility bus on the display, where Qt looks for it. Its
        # socket goes into a runtime folder of this run: under a shared one,
        # the bus of the run before, closing late, removed this run's socket.
        runtime = os.path.join(self.directory.name, "runtime")
        os.mkdir(runtime, 0o700)
        os.environ["XDG_RUNTIME_DIR"] = runtime
        subprocess.run(["dbus-update-activation-environment", "DISPLAY=" + os.environ["DISPLAY"],
                        "XDG_RUNTIME_DIR=" + runtime], check=True)

    def start(self):
        try:
            return self.start_all()
        except BaseException:
            self.stop()
            raise

    def start_all(self):
        self.start_display()
        with open(DEMO_FLEET, encoding="utf-8") as handle:
            self.fleet = Fleet(json.load(handle), ["--quiet-discovery"]).start()
        environment = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
                           QT_QUICK_BACKEND="software")
        self.output = open(os.path.join(self.directory.name, "tool.txt"), "w+", encoding="utf-8")
        self.process = subprocess.Popen([self.tool], env=environment, stdout=self.output,
                                        stderr=subprocess.STDOUT)
        self.app = wait_until(self.find_application, timeout=30, step=0.2)
        if not self.app:
            raise RuntimeError("the tool did not show up on the accessibility bus: " + self.tool_output())
        return self

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.fleet:
            self.fleet.stop()
        if self.display:
            self.display.terminate()
            self.display.wait()
        if self.process:
            self.output.close()
        self.fleet = self.display = self.process = None
        self.directory.cleanup()

    def __enter__(self):
        return self.start()

    def __exit__(self, *error):
        self.stop()

    def tool_output(self):
        self.output.seek(0)
        return self.output.read()

    def find_application(self):
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            try:
                if app is None or app.get_process_id() != self.process.pid:
                    continue
                # The bus caches an application's children as they were
                # when it first saw them, before the window was up.
                app.clear_cache()
                if app.childCount > 0:
                    return app
            except Exception:  # an application leaving the bus meanwhile
                continue
        return None

    def windows(self):
        return [self.app.getChildAtIndex(i) for i in range(self.app.childCount)]

    def nodes(self, root=None, showing_only=False):
        """Every node below root (all windows by default), depth first."""
        found = []
        self.app.clear_cache()
        stack = [root] if root is not None else list(reversed(self.windows()))
        while stack:
            node = stack.pop()
            if node is None:
                continue
            if showing_only and not node.getState().contains(pyatspi.STATE_SHOWING):
                continue
            found.append(node)
            stack.extend(reversed([node.getChildAtIndex(i) for i in range(node.childCount)]))
        return found

    def find(self, predicate, timeout=10.0, showing_only=True):
        """The first (showing) node for which predicate(node) holds, waiting for it."""
        def look():
            for node in self.nodes(showing_only=showing_only):
                try:
                    if predicate(node):
                        return node
                except Exception:  # a node that went away while looked at
                    continue
            return None
        return wait_until(look, timeout=timeout, step=0.2)

    def focused(self):
        """The node with the keyboard focus: Qt marks its ancestors focused too,
        so the deepest one."""
        found = None
        for node in self.nodes(showing_only=True):
            if node.getState().contains(pyatspi.STATE_FOCUSED):
                found = node
        return found

    def walk_report(self):
        """Counts of the whole tree, hidden windows included: nodes, the
        focusable or actionable ones, and those of them that lack a role or a
        name (with what they are)."""
        nodes = self.nodes()
        interactive = []
        lacking = []
        for node in nodes:
            states = node.getState()
            actions = action_names(node)
            if not (states.contains(pyatspi.STATE_FOCUSABLE) or actions):
                continue
            interactive.append(node)
            unnamed = not (node.name or "").strip()
            if node.getRole() in NO_ROLES or unnamed:
                lacking.append(describe(node))
        return {"nodes": len(nodes), "interactive": len(interactive), "lacking": lacking}


def pump():
    """Delivers the accessibility events received so far to their listeners."""
    while GLib.MainContext.default().iteration(False):
        pass


def holds_keyboard(node):
    """Focused and showing, asked afresh (a node gone with its control is not)."""
    try:
        node.clearCache()
        states = node.getState()
        return states.contains(pyatspi.STATE_FOCUSED) and states.contains(pyatspi.STATE_SHOWING)
    except Exception:
        return False


class FocusWatch:
    """The last node of the tool that announced it took the focus. Cheaper
    than walking the tree after each key, and it sees a loss: the node it
    holds then no longer has the keyboard, and no other announced itself."""

    def __init__(self, session):
        self.session = session
        self.node = None
        pyatspi.Registry.registerEventListener(self.on_focus, "object:state-changed:focused")

    def on_focus(self, event):
        if event.detail1 == 1 and event.host_application.get_process_id() == self.session.process.pid:
            self.node = event.source

    def close(self):
        pyatspi.Registry.deregisterEventListener(self.on_focus, "object:state-changed:focused")

    def holder(self, timeout=3.0):
        """The node that holds the keyboard, or None once timeout has passed."""
        def held():
            pump()
            return self.node is not None and holds_keyboard(self.node)
        return self.node if wait_until(held, timeout=timeout, step=0.05) else None


class ScreenReader:
    """Orca, as Debian ships it, on the session's display and accessibility
    bus, beside a window manager (which gives each new window the keyboard).
    No speech engine: its debug log has every line it would speak."""

    SPOKEN = re.compile(r"^\d\d:\d\d:\d\d\.\d+ - SPEECH OUTPUT: '(.*)'(?: voice=\S+)?\s*\[?\{")

    def __init__(self, session):
        self.session = session
        self.log = os.path.join(session.directory.name, "orca.log")
        self.read_to = 0
        self.spoken = []
        self.processes = []

    def start(self):
        prefs = os.path.join(self.session.directory.name, "orca")
        os.mkdir(prefs)
        # Read by Orca as it starts: each line reaches the log as it is
        # written, not a buffer at a time, and the log keeps what Orca says
        # and why (not every event's dump, which slows it down).
        with open(os.path.join(prefs, "orca-customizations.py"), "w", encoding="utf-8") as handle:
            handle.write("import orca.debug\norca.debug.debugFile.reconfigure(line_buffering=True)\n"
                         "orca.debug.debugLevel = orca.debug.LEVEL_INFO\n")
        quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
        self.processes.append(subprocess.Popen(["openbox"], **quiet))
        self.processes.append(subprocess.Popen(
            ["orca", "--user-prefs", prefs, "--debug-file", self.log,
             "--disable", "main-window", "--disable", "splash-window"], **quiet))
        if not wait_until(lambda: "Screen reader on." in self.lines(), timeout=30, step=0.2):
            raise RuntimeError("Orca did not start")
        return self

    def stop(self):
        keep = os.environ.get("TESSALY_KEEP_ORCA_LOG")
        if keep and os.path.exists(self.log):
            shutil.copy(self.log, keep)
        for process in reversed(self.processes):
            process.terminate()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        self.processes = []

    def lines(self, since=0):
        """What Orca spoke, line by line, from the given line on."""
        if os.path.exists(self.log):
            with open(self.log, "rb") as handle:
                handle.seek(self.read_to)
                text = handle.read()
            complete = text[:text.rfind(b"\n") + 1]
            self.read_to += len(complete)
            for line in complete.decode("utf-8", "replace").splitlines():
                match = self.SPOKEN.match(line)
                if match:
                    self.spoken.append(match.group(1))
        return self.spoken[since:]
