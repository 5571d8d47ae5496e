#!/usr/bin/env python3
"""Checks that every #include goes to the including file's own layer or one
below it. The layers, bottom up, are listed in LAYERS; tests/<layer>/ may
include what its layer may, plus tests/support/ and its own test folder.
Exits 1 and names each upward include; prints a summary otherwise."""
import os
import re
import sys

LAYERS = [
    "engine/platform",
    "engine/base",
    "engine/expr",
    "engine/table",
    "engine/data",
    "engine/disk",
    "engine/memory",
    "engine/session",
    "engine/cursor",
    "engine/sql",
    "components",
    "ui",
    "app",
    "tools/orbdb",
]
# Layers that sit side by side: neither may include the other.
SIDE_BY_SIDE = {
    ("engine/expr", "engine/table"), ("engine/table", "engine/expr"),
    ("engine/disk", "engine/memory"), ("engine/memory", "engine/disk"),
    ("tools/orbdb", "ui"), ("tools/orbdb", "app"),
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def layer_of(path):
    for i, layer in enumerate(LAYERS):
        if path.startswith(layer + "/"):
            return i
    return None


def main(root):
    bad = []
    checked = 0
    for top in ("engine", "components", "ui", "app", "tools", "tests"):
        for d, _, names in os.walk(os.path.join(root, top)):
            for n in names:
                if not n.endswith((".h", ".cc")):
                    continue
                full = os.path.join(d, n)
                rel = os.path.relpath(full, root)
                own_rel = rel[len("tests/"):] if rel.startswith("tests/") else rel
                own = layer_of(own_rel)
                if rel.startswith("tests/") and own is None:
                    own = len(LAYERS)  # tests/support, tests/children, tests/tools: anything
                if own is None:
                    continue
                text = open(full, encoding="utf-8", errors="replace").read()
                for inc in INCLUDE.findall(text):
                    target = layer_of(inc[len("tests/"):] if inc.startswith("tests/") else inc)
                    if target is None:
                        continue
                    checked += 1
                    upward = target > own
                    side = own < len(LAYERS) and (LAYERS[own], LAYERS[target]) in SIDE_BY_SIDE
                    if upward or side:
                        bad.append(f"{rel}: includes {inc}")
    for line in bad:
        print("upward include:", line)
    if bad:
        return 1
    print(f"layers ok: {checked} includes checked across {len(LAYERS)} layers")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
