#!/usr/bin/python3
"""A Secret Service on the session bus whose unlock prompt takes its time.

It holds one locked item (account "toviknotekey", value given on the command
line) in its one collection. Unlocking it needs a prompt, and the prompt
answers only after DELAY seconds, as a user who takes their time with the
keyring's password dialog would. Everything else answers at once; items that
clients create are kept unlocked. Plain sessions only.

Usage: slow-secret-service.py DELAY ADDRESS_VALUE
Prints "ready" once it owns org.freedesktop.secrets, and "prompt" when a client
starts waiting on the prompt.
"""

import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

SERVICE = "org.freedesktop.Secret.Service"
COLLECTION = "org.freedesktop.Secret.Collection"
ITEM = "org.freedesktop.Secret.Item"
PROMPT = "org.freedesktop.Secret.Prompt"
PROPERTIES = "org.freedesktop.DBus.Properties"
ROOT = "/org/freedesktop/secrets"
COLLECTION_PATH = ROOT + "/collection/login"


def say(line):
    print(line, flush=True)


class Item(dbus.service.Object):
    def __init__(self, bus, path, attributes, value, locked):
        super().__init__(bus, path)
        self.path = path
        self.attributes = dict(attributes)
        self.value = bytes(value)
        self.locked = locked

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"Locked": dbus.Boolean(self.locked),
                "Attributes": dbus.Dictionary(self.attributes, signature="ss"),
                "Label": "", "Created": dbus.UInt64(0), "Modified": dbus.UInt64(0)}


class Prompt(dbus.service.Object):
    def __init__(self, bus, path, delay, items):
        super().__init__(bus, path)
        self.delay = delay
        self.items = items

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {}

    @dbus.service.method(PROMPT, in_signature="s", out_signature="")
    def Prompt(self, window_id):
        say("prompt")
        GLib.timeout_add(int(self.delay * 1000), self.finish)

    @dbus.service.method(PROMPT, in_signature="", out_signature="")
    def Dismiss(self):
        self.Completed(True, dbus.Array([], signature="o", variant_level=1))

    def finish(self):
        for item in self.items:
            item.locked = False
        self.Completed(False, dbus.Array([i.path for i in self.items], signature="o", variant_level=1))
        return False

    @dbus.service.signal(PROMPT, signature="bv")
    def Completed(self, dismissed, result):
        pass


class Collection(dbus.service.Object):
    # libsecret stores through the alias path of the default collection.
    SUPPORTS_MULTIPLE_OBJECT_PATHS = True

    def __init__(self, bus, service):
        super().__init__()
        self.add_to_connection(bus, COLLECTION_PATH)
        self.add_to_connection(bus, ROOT + "/aliases/default")
        self.service = service

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"Items": dbus.Array([i.path for i in self.service.items], signature="o"),
                "Label": "login", "Locked": dbus.Boolean(False),
                "Created": dbus.UInt64(0), "Modified": dbus.UInt64(0)}

    @dbus.service.method(COLLECTION, in_signature="a{sv}(oayays)b", out_signature="oo")
    def CreateItem(self, properties, secret, replace):
        attributes = dict(properties.get(ITEM + ".Attributes", {}))
        if replace:
            for item in self.service.matching(attributes):
                if item.attributes == attributes:
                    item.value = bytes(secret[2])
                    return item.path, "/"
        return self.service.add(attributes, bytes(secret[2]), False).path, "/"


class Service(dbus.service.Object):
    def __init__(self, bus, delay, address_value):
        super().__init__(bus, ROOT)
        self.bus = bus
        self.delay = delay
        self.items = []
        self.serial = 0
        self.collection = Collection(bus, self)
        self.add({"xdg:schema": "org.toviknote.Keyring", "account": "toviknotekey"}, address_value, True)

    def next_path(self, kind):
        self.serial += 1
        return "%s/%s/%d" % (ROOT if kind != "item" else COLLECTION_PATH, kind, self.serial)

    def add(self, attributes, value, locked):
        item = Item(self.bus, "%s/%d" % (COLLECTION_PATH, len(self.items) + 1), attributes, value, locked)
        self.items.append(item)
        return item

    def matching(self, attributes):
        return [i for i in self.items if all(i.attributes.get(k) == v for k, v in attributes.items())]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"Collections": dbus.Array([COLLECTION_PATH], signature="o")}

    @dbus.service.method(SERVICE, in_signature="sv", out_signature="vo")
    def OpenSession(self, algorithm, argument):
        if algorithm != "plain":
            raise dbus.exceptions.DBusException("only plain sessions",
                                                name="org.freedesktop.DBus.Error.NotSupported")
        return dbus.String("", variant_level=1), self.next_path("session")

    @dbus.service.method(SERVICE, in_signature="a{ss}", out_signature="aoao")
    def SearchItems(self, attributes):
        found = self.matching(dict(attributes))
        return (dbus.Array([i.path for i in found if not i.locked], signature="o"),
                dbus.Array([i.path for i in found if i.locked], signature="o"))

    @dbus.service.method(SERVICE, in_signature="ao", out_signature="aoo")
    def Unlock(self, objects):
        locked = [i for i in self.items if i.path in objects and i.locked]
        done = [o for o in objects if o not in [i.path for i in locked]]
        if not locked:
            return dbus.Array(done, signature="o"), "/"
        path = self.next_path("prompt")
        Prompt(self.bus, path, self.delay, locked)
        return dbus.Array(done, signature="o"), path

    @dbus.service.method(SERVICE, in_signature="aoo", out_signature="a{o(oayays)}")
    def GetSecrets(self, items, session):
        secrets = {}
        for item in self.items:
            if item.path in items and not item.locked:
                secrets[item.path] = (session, dbus.ByteArray(b""), dbus.ByteArray(item.value), "text/plain")
        return dbus.Dictionary(secrets, signature="o(oayays)")

    @dbus.service.method(SERVICE, in_signature="s", out_signature="o")
    def ReadAlias(self, name):
        return COLLECTION_PATH if name == "default" else "/"


def main():
    delay = float(sys.argv[1])
    address_value = sys.argv[2].encode()
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    Service(bus, delay, address_value)
    name = dbus.service.BusName("org.freedesktop.secrets", bus, do_not_queue=True)
    say("ready")
    GLib.MainLoop().run()
    del name


if __name__ == "__main__":
    main()
