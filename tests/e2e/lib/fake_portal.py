#!/usr/bin/python3
"""A stand-in for the desktop portal's Settings interface on the session bus.

Owns org.freedesktop.portal.Desktop and answers Read, ReadOne and ReadAll for
org.freedesktop.appearance color-scheme (0 no preference, 1 dark, 2 light).
A test switches the scheme with

    gdbus call --session --dest org.freedesktop.portal.Desktop \
        --object-path /org/freedesktop/portal/desktop \
        --method io.github.spacemole.FakePortal.SetColorScheme 1

which stores the value and emits SettingChanged like the real portal.
Usage: fake_portal.py INITIAL_SCHEME
"""

import sys

from gi.repository import Gio, GLib

NAME = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
SETTINGS = "org.freedesktop.portal.Settings"
APPEARANCE = "org.freedesktop.appearance"

XML = """
<node>
  <interface name="org.freedesktop.portal.Settings">
    <method name="ReadAll">
      <arg type="as" name="namespaces" direction="in"/>
      <arg type="a{sa{sv}}" name="value" direction="out"/>
    </method>
    <method name="Read">
      <arg type="s" name="namespace" direction="in"/>
      <arg type="s" name="key" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <method name="ReadOne">
      <arg type="s" name="namespace" direction="in"/>
      <arg type="s" name="key" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <signal name="SettingChanged">
      <arg type="s" name="namespace"/>
      <arg type="s" name="key"/>
      <arg type="v" name="value"/>
    </signal>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="io.github.spacemole.FakePortal">
    <method name="SetColorScheme">
      <arg type="u" name="scheme" direction="in"/>
    </method>
  </interface>
</node>
"""

scheme = int(sys.argv[1]) if len(sys.argv) > 1 else 0
loop = GLib.MainLoop()


def on_call(conn, sender, path, iface, method, params, invocation):
    global scheme
    if method in ("Read", "ReadOne"):
        ns, key = params.unpack()
        if (ns, key) != (APPEARANCE, "color-scheme"):
            invocation.return_dbus_error("org.freedesktop.portal.Error.NotFound",
                                         "Requested setting not found")
            return
        value = GLib.Variant("v", GLib.Variant("u", scheme))
        # Read answers the way the portal always has: a variant in a variant.
        if method == "Read":
            value = GLib.Variant("v", value)
        invocation.return_value(GLib.Variant.new_tuple(value))
    elif method == "ReadAll":
        invocation.return_value(
            GLib.Variant("(a{sa{sv}})", ({APPEARANCE: {"color-scheme": GLib.Variant("u", scheme)}},)))
    elif method == "SetColorScheme":
        (scheme,) = params.unpack()
        invocation.return_value(None)
        conn.emit_signal(None, PATH, SETTINGS, "SettingChanged",
                         GLib.Variant("(ssv)", (APPEARANCE, "color-scheme", GLib.Variant("u", scheme))))
    else:
        invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)


def on_get_property(conn, sender, path, iface, prop):
    return GLib.Variant("u", 2)


def main():
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    info = Gio.DBusNodeInfo.new_for_xml(XML)
    for iface in info.interfaces:
        bus.register_object(PATH, iface, on_call, on_get_property, None)
    # Claim the name only after the object answers, so a caller that sees the
    # name owned can call at once.
    reply = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                          "RequestName", GLib.Variant("(su)", (NAME, 4)), None,
                          Gio.DBusCallFlags.NONE, -1, None)
    if reply.unpack()[0] != 1:
        print(f"fake_portal: could not own {NAME}", file=sys.stderr)
        return 1
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
