#!/usr/bin/env python3
"""The program's accessible tree as a screen reader reads it over AT-SPI:
every control has a name and the role it acts as, each card is a list item
whose name carries its note's text, time and mark, a to-do box is a check box
with its state, and every dialog and sheet is named.

Run through run-a11y-session.sh, which gives it a private session bus and
an X display with a window manager. Usage: tst_atspi_tree.py PROGRAM"""

import os
import sqlite3
import sys
import tempfile
import time
import unittest

import pyatspi

from atspi_support import App, wait_for

PROGRAM = None

TODO_CONTENT = ('[{"id":"0A8C5E3B-1D4F-4E6A-9B2C-3D5E7F9A1B2C","text":"call the plumber",'
                '"isCompleted":false}]')


def seed(home):
    """A store with a plain note and a favourite to-do list, written the way
    the program finds it: made by the program itself, then filled."""
    app = App(PROGRAM, home)
    app.stop()
    with sqlite3.connect(os.path.join(home, ".tovik", "tovik.db")) as db:
        now = int(time.time())
        rows = [("n1", b"grocery list\nmilk", 1, 0, now - 60),
                ("n2", TODO_CONTENT.encode(), 2, 1, now - 120)]
        for noteid, content, kind, favourite, changed in rows:
            db.execute('INSERT INTO "notes" ("noteid", "content", "type", "createdtime", "lastmodifiedtime", '
                       '"isfavorite") VALUES (?, ?, ?, ?, ?, ?)', (noteid, content, kind, changed, changed,
                                                                  favourite))


class AccessibleTreeTest(unittest.TestCase):
    def setUp(self):
        self.home_dir = tempfile.TemporaryDirectory()
        self.home = self.home_dir.name
        seed(self.home)
        self.app = App(PROGRAM, self.home)

    def tearDown(self):
        self.app.stop()
        self.home_dir.cleanup()

    def assertNamed(self, role, name):
        self.assertTrue(self.app.wait_for_object(role, name), "%s %r" % (role, name))

    def test_main_screen_controls_and_cards(self):
        app = self.app
        for name in ("New note", "Sync", "Close", "Minimise", "Maximise"):
            self.assertNamed("push button", name)
        search = wait_for(lambda: [n for (r, nm, st, n) in app.nodes()
                                   if nm == "Search" and r in ("entry", "text")], what="the search field")
        self.assertTrue(search[0].getState().contains(pyatspi.STATE_FOCUSABLE))
        grid = app.wait_for_object("list", "Notes")
        cards = wait_for(lambda: [grid.getChildAtIndex(i) for i in range(grid.childCount)
                                  if grid.getChildAtIndex(i).getRoleName() == "list item"], what="the cards")
        names = sorted(card.name for card in cards)
        self.assertEqual(len(names), 2, names)
        # Favourites first; each name reads the preview, the time and the mark.
        self.assertTrue(names[0].startswith("call the plumber, ") and names[0].endswith(", favourite"), names)
        self.assertTrue(names[1].startswith("grocery list, milk, ") and "favourite" not in names[1], names)
        for card in cards:
            self.assertTrue(card.getState().contains(pyatspi.STATE_FOCUSABLE), card.name)

    def test_turned_card_and_its_dialog(self):
        app = self.app
        grid = app.wait_for_object("list", "Notes")
        wait_for(lambda: grid.childCount >= 2, what="the cards")
        # Into the grid by keyboard; its first card has the focus.
        first = sorted(grid.getChildAtIndex(i).name for i in range(grid.childCount))[0]
        app.tab_to("list item", first)
        app.key("Menu")
        self.assertNamed("push button", "Turn back")
        self.assertNamed("push button", "Remove from favourites")
        self.assertNamed("push button", "Delete")
        wait_for(lambda: app.focused() == ("push button", "Turn back"), what="the turn-back button focused")
        app.key("Delete")
        dialog = app.wait_for_object("dialog", "Delete Note")
        self.assertTrue(dialog)
        self.assertNamed("push button", "Cancel")
        app.key("Escape")
        wait_for(lambda: not app.find("dialog", "Delete Note"), what="the dialog to close")

    def test_editors_and_check_box(self):
        app = self.app
        app.wait_for_object("list", "Notes")
        app.key("ctrl+n")
        self.assertNamed("push button", "Back to notes")
        self.assertNamed("push button", "Save")
        # Shift+Tab leaves the text for the home button, then the kind.
        app.tab_to("page tab", "Todo", key="shift+Tab")
        app.key("space")
        self.assertNamed("push button", "Add item")
        app.key("ctrl+g")
        app.type("buy milk")
        box = app.wait_for_object("check box", "buy milk")
        self.assertFalse(box.getState().contains(pyatspi.STATE_CHECKED))
        # Back from the item's text to its box, and ticked with the keyboard.
        app.key("shift+Tab", "space")
        wait_for(lambda: [b for b in app.find("check box", "buy milk")
                          if b.getState().contains(pyatspi.STATE_CHECKED)], what="the ticked box")
        app.key("Escape")
        app.wait_for_object("list", "Notes")

    def test_email_sheet(self):
        app = self.app
        app.wait_for_object("list", "Notes")
        app.tab_to("push button", "Sync")
        app.key("Return")
        self.assertNamed("dialog", "E-mail address for sync")
        self.assertTrue(wait_for(lambda: [n for (r, nm, st, n) in app.nodes()
                                          if nm == "Email" and r in ("entry", "text")], what="the address field"))
        self.assertNamed("push button", "Save")
        self.assertNamed("push button", "Cancel")
        app.key("Escape")
        wait_for(lambda: not app.find("dialog", "E-mail address for sync"), what="the sheet to close")


if __name__ == "__main__":
    PROGRAM = sys.argv.pop(1)
    unittest.main(verbosity=2)
