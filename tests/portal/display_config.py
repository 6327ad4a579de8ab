#!/usr/bin/python3
# Lays out the monitors of the headless mutter side by side, left to right, the first one
# primary, each at the scale given: display_config.py SCALE [SCALE...]. Needs a session started
# with scripts/gnome-session.sh --fractional-scaling for scales that are not whole numbers.
# Prints each monitor's logical rectangle; exits 1 when mutter refuses the layout.
import sys

import dbus

bus = dbus.SessionBus()
config = dbus.Interface(
    bus.get_object("org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig"),
    "org.gnome.Mutter.DisplayConfig")
serial, monitors, _, _ = config.GetCurrentState()
scales = [float(s) for s in sys.argv[1:]]
if len(scales) != len(monitors):
    sys.exit("%d monitors, %d scales" % (len(monitors), len(scales)))
logical = []
x = 0
for index, (monitor, scale) in enumerate(zip(monitors, scales)):
    connector = monitor[0][0]
    mode = next(m for m in monitor[1] if m[6].get("is-current", False))
    supported = [float(s) for s in mode[5]]
    scale = min(supported, key=lambda s: abs(s - scale))
    logical.append(dbus.Struct((dbus.Int32(x), dbus.Int32(0), dbus.Double(scale), dbus.UInt32(0),
                                dbus.Boolean(index == 0),
                                [dbus.Struct((connector, mode[0], dbus.Dictionary({}, signature="sv")))]),
                               signature="iiduba(ssa{sv})"))
    width, height = round(mode[1] / scale), round(mode[2] / scale)
    print("%s %d,%d %dx%d scale %.3f" % (connector, x, 0, width, height, scale))
    x += width
# Method 1: temporary, no confirmation asked.
config.ApplyMonitorsConfig(serial, dbus.UInt32(1), logical, dbus.Dictionary({}, signature="sv"))
