#!/usr/bin/env python3
"""Fails when a product file includes a header of a folder above its own.

Dependencies run one way: app -> setup -> payload, legacy, diag -> framework -> common, res.
A folder may include its own headers and those of any lower folder. Includes between the folders
of one level (payload, legacy, diag) are listed as notes, not failures.

    include_direction.py SOURCE_ROOT
"""
import pathlib
import re
import sys

LEVELS = {
    "app": 4,
    "setup": 3,
    "payload": 2, "legacy": 2, "diag": 2,
    "framework": 1,
    "common": 0, "res": 0,
}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"/]+)/[^"]*"', re.MULTILINE)


def main(root: pathlib.Path) -> int:
    upward, sideways = [], []
    for folder, level in LEVELS.items():
        for path in sorted((root / folder).glob("*")):
            if path.suffix not in (".h", ".cpp", ".inc", ".rc"):
                continue
            text = path.read_text(encoding="utf-8", errors="replace")
            for match in INCLUDE.finditer(text):
                target = match.group(1)
                if target not in LEVELS or target == folder:
                    continue
                line = text.count("\n", 0, match.start()) + 1
                where = f"{path.relative_to(root)}:{line}: includes {target}/"
                if LEVELS[target] > level:
                    upward.append(where)
                elif LEVELS[target] == level:
                    sideways.append(where)
    for where in sideways:
        print(f"note: sideways: {where}")
    for where in upward:
        print(f"error: upward: {where}")
    if upward:
        print(f"{len(upward)} upward include(s): app -> setup -> payload, legacy, diag -> framework -> common, res")
        return 1
    print("includes run one way")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(pathlib.Path(sys.argv[1])))
