#!/usr/bin/env python3
"""Splits the X display's one screen into two RandR monitors, A (1600x1000) and B beside it
(1024x768), as a laptop and a monitor are; Qt shows each as a screen of its own."""
import ctypes

x11 = ctypes.CDLL("libX11.so.6")
xrandr = ctypes.CDLL("libXrandr.so.2")


class Monitor(ctypes.Structure):
    _fields_ = [("name", ctypes.c_ulong), ("primary", ctypes.c_int),
                ("automatic", ctypes.c_int), ("noutput", ctypes.c_int), ("x", ctypes.c_int),
                ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("mwidth", ctypes.c_int), ("mheight", ctypes.c_int),
                ("outputs", ctypes.c_void_p)]


x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
xrandr.XRRSetMonitor.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(Monitor)]

display = x11.XOpenDisplay(None)
if not display:
    raise SystemExit("no X display")
root = x11.XDefaultRootWindow(display)
for index, (name, x, width, height) in enumerate([("A", 0, 1600, 1000), ("B", 1600, 1024, 768)]):
    monitor = Monitor(x11.XInternAtom(display, name.encode(), 0), index == 0, 0, 0, x, 0,
                      width, height, width // 4, height // 4, None)
    xrandr.XRRSetMonitor(display, root, ctypes.byref(monitor))
x11.XSync(display, 0)
