#!/bin/sh
# Prints the Wine architecture the tests use here: win32 where this machine can execute
# 32-bit x86 code (the product as shipped), win64 where it cannot (some hypervisors have no
# 32-bit user mode; the x86_64 build of the same sources then stands in).
if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo win32; else echo win64; fi
