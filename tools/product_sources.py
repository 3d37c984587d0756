"""The product's C and C++ sources, as the checks of tools/ read them."""
import os
import re

PRODUCT_DIRS = ("base", "crypto", "components", "desktop", "crash")
TEST_FILE = re.compile(r"(_unittest|_test_helper|_test_dll|_test_util)\.(cc|c|h)$")


def product_sources(root):
    """Yields the path, relative to |root| with "/" separators, of every .cc, .c and .h
    file of the product folders; tests, test helpers and test utilities are left out."""
    for top in PRODUCT_DIRS:
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if not name.endswith((".cc", ".c", ".h")) or TEST_FILE.search(name):
                    continue
                yield os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")


if __name__ == "__main__":
    # tools/product_sources.py <root> [suffix...]: one path a line, for the shell scripts.
    import sys

    suffixes = tuple(sys.argv[2:]) or (".cc", ".c", ".h")
    for path in product_sources(sys.argv[1]):
        if path.endswith(suffixes):
            print(path)
