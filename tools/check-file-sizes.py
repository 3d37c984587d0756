"""No product file (tests aside) passes 800 lines: one that does holds two concepts and is
split along its seam.

    python3 tools/check-file-sizes.py <repo>
    python3 tools/check-file-sizes.py --self-test
"""
import os
import sys

from planted_trees import run_planted_cases
from product_sources import product_sources

LIMIT = 800


def check(root):
    """The faults of the tree at |root|: each product file over the limit, or no files."""
    paths = list(product_sources(root))
    if not paths:
        return ["no product files found in %s" % root]
    faults = []
    for path in paths:
        with open(os.path.join(root, path), "rb") as source:
            # A last line without its line break is a line too.
            lines = len(source.read().splitlines())
        if lines > LIMIT:
            faults.append("%s: %d lines (at most %d)" % (path, lines, LIMIT))
    return faults


def lines(count, last_break=True):
    return "x;\n" * (count - 1) + ("x;\n" if last_break else "x;")


PLANTED = [
    # (name, files, a fault expected)
    ("a file of the limit", {"base/a.cc": lines(LIMIT)}, False),
    ("a file one line over", {"base/a.cc": lines(LIMIT + 1)}, True),
    ("one line over, the last without its break", {"base/a.h": lines(LIMIT + 1, False)}, True),
    ("a long header deep in the engine", {"desktop/windows/installer/steps/a.h": lines(900)},
     True),
    ("long tests, helpers and utilities",
     {"base/a.cc": "", "base/a_unittest.cc": lines(900), "base/a_test_helper.cc": lines(900),
      "base/a_test_util.h": lines(900)}, False),
    ("long files outside the product", {"tools/a.cc": lines(900), "base/a.txt": lines(900)},
     True),  # and no product file at all
]


def main(argv):
    if argv == ["--self-test"]:
        return run_planted_cases(PLANTED, check)
    faults = check(argv[0])
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
