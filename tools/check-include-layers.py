#!/usr/bin/env python3
"""Fails when a product file includes a file of a higher layer (tools/layers.txt).

  tools/check-include-layers.py <repository root> [<layers file>]
  tools/check-include-layers.py --self-test
"""
import os
import re
import sys

from planted_trees import run_planted_cases
from product_sources import PRODUCT_DIRS, product_sources

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
# A rule names folders: "^a/b/", "^a/(b|c)/", either followed by "[^/]*$" for the
# folder's own files only.
FOLDER_RULE = re.compile(r"^\^((?:[a-z0-9_]+/)*)(?:\(([a-z0-9_|]+)\)/)?(\[\^/\]\*\$)?$")


def rule_faults(root, layers_file, number, text):
    """Why the rule |text| does not name existing folders, or nothing."""
    match = FOLDER_RULE.match(text)
    if not match or not (match.group(1) or match.group(2)):
        return ["%s:%d: %s names no folder (a rule maps folders, never files)"
                % (layers_file, number, text)]
    names = match.group(2).split("|") if match.group(2) else [""]
    return ["%s:%d: %s names the missing folder %s" % (layers_file, number, text, folder)
            for folder in (match.group(1) + name for name in names)
            if not os.path.isdir(os.path.join(root, folder))]


def read_layers(path, root):
    layers, rules, faults = [], [], []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            words = line.split("#", 1)[0].split()
            if not words:
                continue
            if words[0] == "layer" and len(words) == 2:
                layers.append(words[1])
            elif words[0] == "path" and len(words) == 3 and words[1] in layers:
                faults += rule_faults(root, path, number, words[2])
                rules.append((words[1], re.compile(words[2])))
            else:
                sys.exit("%s:%d: not a layer or path line of a known layer" % (path, number))
    return layers, rules, faults


def layer_of(path, rules):
    for layer, regex in rules:
        if regex.search(path):
            return layer
    return None


def check(root, layers_file):
    """(files checked, faults) of the tree at |root| under the rules of |layers_file|."""
    layers, rules, faults = read_layers(layers_file, root)
    rank = {name: i for i, name in enumerate(layers)}
    checked = 0
    for path in product_sources(root):
        layer = layer_of(path, rules)
        if layer is None:
            faults.append("%s: in no layer (tools/layers.txt)" % path)
            continue
        checked += 1
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                match = INCLUDE.match(line)
                if not match or not match.group(1).startswith(PRODUCT_DIRS):
                    continue
                target = layer_of(match.group(1), rules)
                if target is not None and rank[target] > rank[layer]:
                    faults.append("%s:%d: the %s layer includes %s of the higher %s layer"
                                  % (path, number, layer, match.group(1), target))
    return checked, faults


# A layers file of the same shape as the product's: an engine with rooms of its own below
# its top folder, and the wizard's windows and a front end above it.
PLANTED_LAYERS = """\
layer base
layer elevated_helper  # rooms of the engine, bottom first
layer settings
layer steps
layer engine
layer ui
layer front_end
path base             ^base/
path elevated_helper  ^desktop/windows/installer/elevated_helper/
path settings         ^desktop/windows/installer/settings/
path steps            ^desktop/windows/installer/steps/
path ui               ^desktop/windows/installer/ui/
path front_end        ^desktop/windows/installer/(host|front_end)/
path engine           ^desktop/windows/installer/[^/]*$
"""
ENGINE = "desktop/windows/installer/"
# Every tree also holds one file of each layer, so that the includes below name files that
# exist and a rule names no missing folder.
PLANTED_BASE = {
    "base/logging.h": "",
    ENGINE + "elevated_helper/held_file.h": "",
    ENGINE + "settings/settings.h": "",
    ENGINE + "steps/file_step.h": "",
    ENGINE + "installer.h": "",
    ENGINE + "ui/window.h": "",
    ENGINE + "host/host.h": "",
    ENGINE + "front_end/controller.h": "",
}
PLANTED = [
    # (name, files beside the base tree, a fault expected)
    ("a tree of the base files alone", {}, False),
    ("downward and sideways includes",
     {ENGINE + "runner.cc": '#include "desktop/windows/installer/installer.h"\n'
                            '#include "desktop/windows/installer/steps/file_step.h"\n'
                            '#include "base/logging.h"\n#include <windows.h>\n'}, False),
    ("a room includes its engine's top folder",
     {ENGINE + "steps/copy_step.cc": '#include "desktop/windows/installer/installer.h"\n'},
     True),
    ("a room includes the rooms below it",
     {ENGINE + "steps/copy_step.cc": '#include "desktop/windows/installer/settings/settings.h"\n'
                                     '#include "desktop/windows/installer/elevated_helper/'
                                     'held_file.h"\n'}, False),
    ("a room includes a room above it",
     {ENGINE + "settings/status.cc": '#include "desktop/windows/installer/steps/file_step.h"\n'},
     True),
    ("the elevated helper includes the settings",
     {ENGINE + "elevated_helper/check.cc": '#include "desktop/windows/installer/settings/'
                                           'settings.h"\n'}, True),
    ("the engine includes the front end",
     {ENGINE + "installer.cc": '  #  include "desktop/windows/installer/ui/window.h"\n'}, True),
    ("the wizard's windows include the controller that drives them",
     {ENGINE + "ui/page.cc": '#include "desktop/windows/installer/front_end/controller.h"\n'},
     True),
    ("base includes a room", {"base/files.cc": '#include "desktop/windows/installer/steps/'
                                              'file_step.h"\n'}, True),
    ("an upward include in a comment or a test",
     {ENGINE + "steps/a.cc": '// #include "desktop/windows/installer/installer.h"\n',
      ENGINE + "steps/a_unittest.cc": '#include "desktop/windows/installer/installer.h"\n',
      ENGINE + "steps/a_test_helper.cc": '#include "desktop/windows/installer/ui/window.h"\n'},
     False),
    ("a subfolder that only its parent's own-files rule would take",
     {ENGINE + "service/service.cc": ""}, True),
    ("a product file outside every rule", {"crypto/hash.cc": ""}, True),
    ("a rule that names a file",
     {"tools/layers.txt": PLANTED_LAYERS + "path engine ^desktop/windows/installer/x.cc\n"},
     True),
    ("a rule that names a missing folder",
     {"tools/layers.txt": PLANTED_LAYERS + "path steps ^desktop/windows/installer/rooms/\n"},
     True),
]


def self_test():
    def check_planted_tree(root):
        return check(root, os.path.join(root, "tools", "layers.txt"))[1]
    cases = [(name, {**PLANTED_BASE, "tools/layers.txt": PLANTED_LAYERS, **files}, fault)
             for name, files, fault in PLANTED]
    return run_planted_cases(cases, check_planted_tree)


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    layers_file = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "tools", "layers.txt")
    checked, faults = check(root, layers_file)
    for fault in faults:
        print(fault)
    print("%d product files checked, %d upward includes, unmapped files or file rules"
          % (checked, len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
