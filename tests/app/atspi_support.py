"""What the screen-reader and keyboard tests share: the real program started in
a home of its own on the X display of run-under-openbox.sh, its accessible
tree read through AT-SPI as a screen reader reads it, and keys typed with
xdotool."""

import os
import signal
import sqlite3
import subprocess
import time

import pyatspi


def wait_for(condition, timeout=20.0, what="condition"):
    """Polls `condition` until it gives something true; fails after `timeout`."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.1)


class App:
    """The program in its own process, on the test's session bus."""

    def __init__(self, program, home, extra_env=None):
        env = dict(os.environ)
        env.update({
            "HOME": home,
            "QT_QPA_PLATFORM": "xcb",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
        })
        env.update(extra_env or {})
        self.process = subprocess.Popen([program], env=env, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True)
        self.window = wait_for(self._find_window, 30, "the program's window")
        self.root = wait_for(self._find_accessible, 30, "the program on the accessibility bus")

    def _find_window(self):
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(self.process.pid)],
                               capture_output=True, text=True)
        ids = found.stdout.split()
        return ids[0] if ids else None

    def _find_accessible(self):
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            try:
                if app is not None and app.get_process_id() == self.process.pid:
                    return app
            except Exception:
                continue
        return None

    def key(self, *keys):
        """Types key combinations (xdotool names) into the window, as a user
        at the keyboard would."""
        subprocess.run(["xdotool", "windowactivate", "--sync", self.window], check=False, timeout=30)
        subprocess.run(["xdotool", "key", "--clearmodifiers", "--delay", "60"] + list(keys),
                       check=True, timeout=30)

    def type(self, text):
        subprocess.run(["xdotool", "type", "--clearmodifiers", "--delay", "40", text], check=True, timeout=60)

    def nodes(self):
        """Every accessible object under the program, with its role name,
        name and states."""
        found = []

        def walk(node, depth):
            if node is None or depth > 60:
                return
            try:
                states = node.getState()
                found.append((node.getRoleName(), node.name or "", states, node))
                for i in range(node.childCount):
                    walk(node.getChildAtIndex(i), depth + 1)
            except Exception:
                # An object that went while the tree was read.
                return

        walk(self.root, 0)
        return found

    def find(self, role, name=None, showing=True):
        """The objects of a role (and a name), by default only those on screen."""
        return [n for (r, nm, st, n) in self.nodes()
                if r == role and (name is None or nm == name)
                and (not showing or st.contains(pyatspi.STATE_SHOWING))]

    def wait_for_object(self, role, name, timeout=20.0):
        return wait_for(lambda: self.find(role, name), timeout, "%s %r" % (role, name))[0]

    def focused(self):
        """Role and name of the object with the keyboard focus, or None. The
        groups that hold it (a focus scope) count as focused too; the
        innermost one is what has the keys."""
        found = None
        for (role, name, states, _) in self.nodes():
            if states.contains(pyatspi.STATE_FOCUSED) and role not in ("frame", "window", "application"):
                found = (role, name)
        return found

    def tab_to(self, role, name, key="Tab", limit=20):
        """Presses Tab (or `key`) until the object named `name` has the focus."""
        seen = []
        for _ in range(limit):
            seen.append(self._settled_focus())
            if seen[-1] == (role, name):
                return
            self.key(key)
        raise AssertionError("%s never reached %s %r, only %r" % (key, role, name, seen))

    def _settled_focus(self):
        time.sleep(0.2)
        return self.focused()

    def quit(self, keys=("ctrl+q",)):
        self.key(*keys)
        try:
            return self.process.wait(30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def store_rows(home):
    """The notes in the program's store under `home`, oldest first."""
    with sqlite3.connect(os.path.join(home, ".tovik", "tovik.db")) as db:
        return db.execute('SELECT "noteid", "content", "type", "isdeleted", "isfavorite" FROM "notes" '
                          'ORDER BY "createdtime", "lastmodifiedtime"').fetchall()
