#!/usr/bin/env python3
# Exit 0 when the cursor under the pointer on $DISPLAY has a visible pixel,
# 1 when it is blank (how SDL and Wine hide it), 2 when X cannot be asked.
import ctypes
import sys


class CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short),
                ("width", ctypes.c_ushort), ("height", ctypes.c_ushort),
                ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong),
                ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


x11 = ctypes.CDLL("libX11.so.6")
xfixes = ctypes.CDLL("libXfixes.so.3")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(CursorImage)
xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]

display = x11.XOpenDisplay(None)
if not display:
    sys.exit(2)
image = xfixes.XFixesGetCursorImage(display)
if not image:
    sys.exit(2)
image = image.contents
# Pixels are ARGB, one to an unsigned long.
alpha = [image.pixels[k] >> 24 & 0xFF for k in range(image.width * image.height)]
sys.exit(0 if any(alpha) else 1)
