#!/usr/bin/python3
"""A stand-in for the file manager's org.freedesktop.FileManager1 on the session bus.

Owns the name and answers ShowItems, ShowFolders and ShowItemProperties by
appending one line per call to RECORD: the method, a tab, and the URIs
separated by spaces. Usage: fake_file_manager.py RECORD
"""

import sys

from gi.repository import Gio, GLib

NAME = "org.freedesktop.FileManager1"
PATH = "/org/freedesktop/FileManager1"

XML = """
<node>
  <interface name="org.freedesktop.FileManager1">
    <method name="ShowFolders">
      <arg type="as" name="URIs" direction="in"/>
      <arg type="s" name="StartupId" direction="in"/>
    </method>
    <method name="ShowItems">
      <arg type="as" name="URIs" direction="in"/>
      <arg type="s" name="StartupId" direction="in"/>
    </method>
    <method name="ShowItemProperties">
      <arg type="as" name="URIs" direction="in"/>
      <arg type="s" name="StartupId" direction="in"/>
    </method>
  </interface>
</node>
"""


def main():
    record = sys.argv[1]
    node = Gio.DBusNodeInfo.new_for_xml(XML)
    loop = GLib.MainLoop()

    def on_call(conn, sender, path, iface, method, params, invocation):
        uris = params.unpack()[0]
        with open(record, "a", encoding="utf-8") as out:
            out.write(method + "\t" + " ".join(uris) + "\n")
        invocation.return_value(None)

    def on_bus(conn, name):
        conn.register_object(PATH, node.interfaces[0], on_call, None, None)

    Gio.bus_own_name(Gio.BusType.SESSION, NAME, Gio.BusNameOwnerFlags.NONE, on_bus, None,
                     lambda *_: loop.quit())
    loop.run()


if __name__ == "__main__":
    main()
