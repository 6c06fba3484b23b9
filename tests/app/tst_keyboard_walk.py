#!/usr/bin/env python3
"""A user who only has a keyboard: in the real program, on an X display with
a window manager, every key typed with xdotool and no pointer event, the
user writes a note and a to-do list of three items, searches, opens a note,
makes it a favourite, deletes it, syncs after giving an e-mail address in
the sheet, and quits. The store's rows tell what it all came to. The screen
is watched through AT-SPI, as a screen reader would follow it.

The sync goes to a tovik-sync-server that the test starts on the loopback
address the program was built with.

Run through run-a11y-session.sh. Usage: tst_keyboard_walk.py PROGRAM SERVER"""

import json
import os
import subprocess
import sys
import tempfile
import unittest
from urllib.parse import urlsplit

from atspi_support import App, store_rows, wait_for

PROGRAM = None
SERVER = None
SYNC_ADDRESS = os.environ.get("TOVIK_SYNC_BASE_URL", "http://127.0.0.1:8765")


def start_server(folder):
    """The sync service on the program's own address; None when that is no
    loopback address, or its port is taken by something else here."""
    address = urlsplit(SYNC_ADDRESS)
    if address.scheme != "http" or address.hostname != "127.0.0.1" or not address.port:
        return None
    server = subprocess.Popen([SERVER, "--port", str(address.port), "--db", os.path.join(folder, "service.db")],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    line = server.stdout.readline().strip()
    if not line.startswith("listening on"):
        server.kill()
        server.wait()
        return None
    return server


class KeyboardWalkTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.home = os.path.join(self.folder.name, "home")
        os.mkdir(self.home)
        self.server = start_server(self.folder.name)
        if self.server is None:
            self.skipTest("the sync address is not a free loopback port: " + SYNC_ADDRESS)
        self.app = App(PROGRAM, self.home)

    def tearDown(self):
        self.app.stop()
        self.server.kill()
        self.server.wait()
        self.folder.cleanup()

    def cards(self):
        return sorted(name for (_, name, _, _) in
                      [n for n in self.app.nodes() if n[0] == "list item" and n[1]])

    def wait_for_cards(self, starts):
        """Waits until the grid shows one card per text, each card's name
        starting with its text."""
        def shown():
            names = self.cards()
            return len(names) == len(starts) and all(
                any(name.startswith(start + ", ") for name in names) for start in starts)
        wait_for(shown, 20, "cards %r, shown: %r" % (starts, self.cards()))

    def focus_card(self, start):
        """Tab into the grid, then the arrow keys to the card of that text."""
        app = self.app
        for _ in range(20):
            if (app.focused() or ("",))[0] == "list item":
                break
            app.key("Tab")
        for key in ["Left"] * 4 + ["Right"] * 8:
            focused = app.focused() or ("", "")
            if focused[0] == "list item" and focused[1].startswith(start + ", "):
                return
            app.key(key)
        raise AssertionError("no card %r among %r" % (start, self.cards()))

    def test_everything_by_keyboard(self):
        app = self.app
        app.wait_for_object("list", "Notes")

        # A note: Ctrl+N, the text, Escape stores it and goes back.
        app.key("ctrl+n")
        app.wait_for_object("push button", "Back to notes")
        app.type("walk note alpha")
        app.key("Escape")
        self.wait_for_cards(["walk note alpha"])

        # A to-do list: the kind chosen by Shift+Tab and Space, three items,
        # each Return going on in the next one.
        app.key("ctrl+n")
        app.wait_for_object("push button", "Back to notes")
        app.tab_to("page tab", "Todo", key="shift+Tab")
        app.key("space")
        app.wait_for_object("push button", "Add item")
        app.key("ctrl+g")
        wait_for(lambda: app.focused() == ("text", "To-do item"), what="the new item's text focused")
        app.type("milk")
        app.key("Return")
        app.type("bread")
        app.key("Return")
        app.type("eggs")
        app.wait_for_object("check box", "eggs")
        app.key("Escape")
        self.wait_for_cards(["walk note alpha", "milk, bread, eggs"])

        # Searching narrows the grid; Escape empties the search.
        app.key("ctrl+f")
        app.type("alpha")
        self.wait_for_cards(["walk note alpha"])
        app.key("Escape")
        self.wait_for_cards(["walk note alpha", "milk, bread, eggs"])

        # Opening the note from its card and adding to its text.
        self.focus_card("walk note alpha")
        app.key("Return")
        app.wait_for_object("push button", "Back to notes")
        app.key("ctrl+End")
        app.type(" edited")
        app.key("alt+Left")
        self.wait_for_cards(["walk note alpha edited", "milk, bread, eggs"])

        # Favourite: the card turned by the Menu key, the star pressed, the
        # card turned back.
        self.focus_card("walk note alpha edited")
        app.key("Menu")
        wait_for(lambda: app.focused() == ("push button", "Turn back"), what="the turned card")
        app.key("Tab")
        wait_for(lambda: app.focused() == ("push button", "Add to favourites"), what="the star")
        app.key("Return")
        wait_for(lambda: app.focused() == ("push button", "Remove from favourites"), what="the marked star")
        app.key("shift+Tab", "Return")
        wait_for(lambda: any(name.startswith("walk note alpha edited, ") and name.endswith(", favourite")
                             for name in self.cards()), what="the favourite mark")

        # Delete asks; Tab goes from Cancel to Delete.
        self.focus_card("walk note alpha edited")
        app.key("Delete")
        app.wait_for_object("dialog", "Delete Note")
        wait_for(lambda: app.focused() == ("push button", "Cancel"), what="the safe answer focused")
        app.key("Tab")
        wait_for(lambda: app.focused() == ("push button", "Delete"), what="the Delete answer focused")
        app.key("Return")
        self.wait_for_cards(["milk, bread, eggs"])
        deleted = [row for row in store_rows(self.home) if row[3]]
        self.assertEqual(len(deleted), 1, store_rows(self.home))
        self.assertEqual(deleted[0][1].decode(), "walk note alpha edited")
        self.assertEqual(deleted[0][4], 1)

        # Sync: no address yet, so the sheet asks; Return sends it and the
        # sheet closes after the service's answer. The next sync runs.
        app.tab_to("push button", "Sync")
        app.key("Return")
        app.wait_for_object("dialog", "E-mail address for sync")
        app.type("walker@example.com")
        app.key("Return")
        wait_for(lambda: not app.find("dialog", "E-mail address for sync"), 20, "the sheet to close")
        app.tab_to("push button", "Sync")
        app.key("Return")
        # A sync that went through purges the note deleted here.
        wait_for(lambda: len(store_rows(self.home)) == 1, 30, "the deleted note purged by the sync")

        self.assertEqual(app.quit(), 0)

        rows = store_rows(self.home)
        self.assertEqual(len(rows), 1, rows)
        _, content, kind, isdeleted, _ = rows[0]
        self.assertEqual(kind, 2)
        self.assertEqual(isdeleted, 0)
        items = json.loads(content)
        self.assertEqual([item["text"] for item in items], ["milk", "bread", "eggs"])
        self.assertFalse(any(item["isCompleted"] for item in items))


if __name__ == "__main__":
    PROGRAM = sys.argv.pop(1)
    SERVER = sys.argv.pop(1)
    result = unittest.main(verbosity=2, exit=False).result
    # A walk that could not start counts as skipped, not as passed.
    sys.exit(1 if not result.wasSuccessful() else 77 if result.skipped else 0)
