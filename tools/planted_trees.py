"""Runs a check of tools/ over small scratch trees with planted files: the checks' self-tests."""
import os
import shutil
import tempfile


def check_planted(files, check):
    """Writes |files| ({path: content}) into a new scratch folder, returns check(folder) and
    removes the folder, also when the check raises."""
    root = tempfile.mkdtemp()
    try:
        for path, content in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), "w", encoding="utf-8", newline="") as f:
                f.write(content)
        return check(root)
    finally:
        shutil.rmtree(root)


def run_planted_cases(cases, check):
    """|cases|: (name, {path: content}, a fault expected); |check|(root) returns the faults.
    Prints each case that went wrong and returns the exit status of the self-test."""
    wrong = 0
    for name, files, expect_fault in cases:
        faults = check_planted(files, check)
        if bool(faults) != expect_fault:
            wrong += 1
            print("%s: expected %s, got %s" % (name, "a fault" if expect_fault else "none",
                                               faults or "none"))
    print("%d planted cases, %d wrong" % (len(cases), wrong))
    return 1 if wrong else 0
