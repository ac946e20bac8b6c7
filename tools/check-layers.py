#!/usr/bin/env python3
"""Checks that every file under src/ includes only its own layer and the layers below.

    tools/check-layers.py [SRC_DIR]     check the tree (default: src/ beside tools/)
    tools/check-layers.py --self-test   check the checker on small made-up trees

Layers, lowest first (a folder may hold files of two layers: the firmware-access part of
vars/ and drivers/ sits below the shell, their commands above it):

    0  uefi/, cpu/                      definitions and processor instructions
    1  runtime/
    2  fs/, vars/variable_access, drivers/handle_table   the firmware-access owners
    3  shell/
    4  basic/
    5  commands/, editors/, compress/, boot/, vars/, drivers/, hw/, net/, platform/
    6  app/                             start-up; may include everything

A lower layer reaches a higher one only through a hook it declares itself (shell/hooks.h
and its like), so no include upward is allowed; HOOK_HEADERS lists the exceptions, and
is empty. Exit status 0 when the tree is clean, 1 with one line per offending include.
"""
import os
import re
import sys
import tempfile

FOLDER_RANK = {
    "uefi": 0, "cpu": 0,
    "runtime": 1,
    "fs": 2,
    "shell": 3,
    "basic": 4,
    "commands": 5, "editors": 5, "compress": 5, "boot": 5, "vars": 5, "drivers": 5,
    "hw": 5, "net": 5, "platform": 5,
    "images": 5,
    "app": 6,
}
# Files (without extension) that sit below the rest of their folder.
FILE_RANK = {
    "vars/variable_access": 2,
    "drivers/handle_table": 2,
}
LAYER_NAMES = ["uefi/cpu", "runtime", "firmware-access owner", "shell", "basic", "commands", "app"]
# Headers of a higher layer that a lower one may include (none: hooks are declared below).
HOOK_HEADERS = set()

INCLUDE = re.compile(r'^[ \t]*#[ \t]*include\s*"([^"]+)"', re.MULTILINE)


def rank_of(relative):
    """The layer of a path relative to src/ ("fs/files.h"), or None outside the layers."""
    parts = relative.replace(os.sep, "/").split("/")
    if len(parts) < 2:
        return None
    stem = parts[0] + "/" + os.path.splitext(parts[-1])[0] if len(parts) == 2 else None
    if stem in FILE_RANK:
        return FILE_RANK[stem]
    return FOLDER_RANK.get(parts[0])


def check_tree(src):
    """The offending includes under src as (file, line, included, message) tuples."""
    problems = []
    for folder, _, names in sorted(os.walk(src)):
        for name in sorted(names):
            if not name.endswith((".cpp", ".h")):
                continue
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, src).replace(os.sep, "/")
            own = rank_of(relative)
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
            if own is None:
                problems.append((relative, 1, "", "file outside every layer (add its folder)"))
                continue
            for match in INCLUDE.finditer(text):
                included = match.group(1)
                line = text.count("\n", 0, match.start()) + 1
                if "/" not in included:  # beside the including file
                    included = os.path.dirname(relative) + "/" + included
                target = rank_of(included)
                if target is None:
                    problems.append((relative, line, included, "includes a file outside every layer"))
                elif target > own and included not in HOOK_HEADERS:
                    problems.append((relative, line, included,
                                     "%s includes %s" % (LAYER_NAMES[own], LAYER_NAMES[target])))
    return problems


def self_test():
    cases = [
        # (files {path: text}, expected offending (file, included) pairs)
        ({"runtime/a.cpp": '#include "uefi/base.h"\n#include "runtime/b.h"\n',
          "uefi/base.h": "", "runtime/b.h": '#include "cpu/cpu.h"\n', "cpu/cpu.h": ""}, []),
        ({"shell/x.cpp": '#include "basic/engine.h"\n', "basic/engine.h": ""},
         [("shell/x.cpp", "basic/engine.h")]),
        ({"fs/f.cpp": '\n\n#include "commands/c.h"\n', "commands/c.h": ""},
         [("fs/f.cpp", "commands/c.h")]),
        ({"runtime/r.cpp": '#include "platform/cpu.h"\n', "platform/cpu.h": ""},
         [("runtime/r.cpp", "platform/cpu.h")]),
        # the access part of vars/ is below the shell, the rest of vars/ above it
        ({"shell/e.cpp": '#include "vars/variable_access.h"\n', "vars/variable_access.h": ""}, []),
        ({"shell/e.cpp": '#include "vars/var_command.h"\n', "vars/var_command.h": ""},
         [("shell/e.cpp", "vars/var_command.h")]),
        ({"vars/variable_access.cpp": '#include "vars/variable_access.h"\n#include "shell/s.h"\n',
          "vars/variable_access.h": "", "shell/s.h": ""},
         [("vars/variable_access.cpp", "shell/s.h")]),
        ({"app/main.cpp": '#include "commands/c.h"\n#include "basic/b.h"\n',
          "commands/c.h": "", "basic/b.h": ""}, []),
        ({"commands/c.cpp": '#include "app/modules.h"\n', "app/modules.h": ""},
         [("commands/c.cpp", "app/modules.h")]),
        # an include beside the file counts as its own folder
        ({"fs/f.cpp": '#include "fs_internal.h"\n', "fs/fs_internal.h": ""}, []),
        ({"mystery/m.cpp": ""}, [("mystery/m.cpp", "")]),
    ]
    failures = 0
    for files, expected in cases:
        with tempfile.TemporaryDirectory() as root:
            for path, text in files.items():
                os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
                with open(os.path.join(root, path), "w") as f:
                    f.write(text)
            found = [(p[0], p[2]) for p in check_tree(root)]
            if sorted(found) != sorted(expected):
                failures += 1
                print("self-test: %s: expected %s, found %s" % (sorted(files), expected, found))
    print("check-layers self-test: %d cases, %d failed" % (len(cases), failures))
    return 1 if failures else 0


def main(argv):
    if len(argv) > 1 and argv[1] == "--self-test":
        return self_test()
    src = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
    problems = check_tree(src)
    for relative, line, included, message in problems:
        print("src/%s:%d: %s%s" % (relative, line, message, (": " + included) if included else ""))
    if problems:
        print("check-layers: %d include(s) against the layering" % len(problems))
        return 1
    print("check-layers: clean")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
