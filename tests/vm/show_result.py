#!/usr/bin/env python3
"""One test of the 32-bit set as its own CTest entry: prints the output the set stored for it
and exits with its exit code. The set (win32.set) ran them all in one session before."""
import os
import sys


def main():
    results, name = sys.argv[1], sys.argv[2]
    log, rc_path = os.path.join(results, name + ".log"), os.path.join(results, name + ".rc")
    if not os.path.exists(rc_path):
        print("%s: no result: the 32-bit set did not get to it (see win32.set)" % name)
        return 1
    with open(log, errors="replace") as f:
        sys.stdout.write(f.read())
    return int(open(rc_path).read().strip() or 1)


if __name__ == "__main__":
    sys.exit(main())
