#!/usr/bin/python3
# A Wayland window that fills the monitor with a known picture, for the tests of the screen of
# a Wayland session: pixel (x, y) has red x % 256, green y % 256 and blue
# (x // 256) % 16 + 16 * ((y // 256) % 16), so that every pixel of a 4096 x 4096 screen differs.
# With "blocks", squares of 32 x 32 flat colours instead: square (i, j) has red 8 * i % 256,
# green 8 * j % 256 and blue 0x80; their insides stay exact on a scaled monitor, where the
# compositor resamples the window.
# Usage: pattern_window.py WIDTH HEIGHT [MONITOR [blocks]], fullscreen on monitor MONITOR
# (default 0). Prints "shown" once the window is mapped.
import sys

import gi

gi.require_version("Gtk", "4.0")
gi.require_version("Gdk", "4.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402


def picture_bytes(width, height):
    reds = bytes(x % 256 for x in range(width))
    highs = [(x // 256) % 16 for x in range(width)]
    data = bytearray(width * height * 3)
    row = bytearray(width * 3)
    row[0::3] = reds
    for y in range(height):
        row[1::3] = bytes([y % 256]) * width
        row[2::3] = bytes(h + 16 * ((y // 256) % 16) for h in highs)
        data[y * width * 3:(y + 1) * width * 3] = row
    return bytes(data)


def blocks_bytes(width, height):
    data = bytearray(width * height * 3)
    for y in range(height):
        row = bytearray()
        for x in range(0, width, 32):
            row += bytes([(8 * (x // 32)) % 256, (8 * (y // 32)) % 256, 0x80]) * min(32, width - x)
        data[y * width * 3:(y + 1) * width * 3] = row
    return bytes(data)


def main():
    width, height = int(sys.argv[1]), int(sys.argv[2])
    monitor = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    make = blocks_bytes if len(sys.argv) > 4 and sys.argv[4] == "blocks" else picture_bytes
    texture = Gdk.MemoryTexture.new(width, height, Gdk.MemoryFormat.R8G8B8,
                                    GLib.Bytes.new(make(width, height)), width * 3)
    app = Gtk.Application(application_id=None)

    def activate(application):
        window = Gtk.ApplicationWindow(application=application, title="ombrix pattern")
        picture = Gtk.Picture.new_for_paintable(texture)
        picture.set_can_shrink(True)
        window.set_child(picture)
        window.set_decorated(False)
        window.fullscreen_on_monitor(Gdk.Display.get_default().get_monitors().get_item(monitor))
        window.connect("map", lambda *_: print("shown", flush=True))
        window.present()

    app.connect("activate", activate)
    app.run([])


main()
