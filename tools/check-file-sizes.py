"""No product file (tests aside) passes 800 lines: one that does holds two concepts and is
split along its seam.

    python3 tools/check-file-sizes.py <repo>
"""
import os
import sys

from product_sources import product_sources

LIMIT = 800


def main(root):
    paths = list(product_sources(root))
    if not paths:
        print("no product files found in %s" % root)
        return 1
    status = 0
    for path in paths:
        with open(os.path.join(root, path), "rb") as source:
            lines = source.read().count(b"\n")
        if lines > LIMIT:
            print("%s: %d lines (at most %d)" % (path, lines, LIMIT))
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
