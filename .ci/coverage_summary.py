#!/usr/bin/env python3
"""Line and branch coverage per folder from a gcovr --json-summary file."""
import collections
import json
import sys

data = json.load(open(sys.argv[1]))
folders = collections.defaultdict(lambda: [0, 0, 0, 0])
for f in data["files"]:
    parts = f["filename"].split("/")
    folder = "/".join(parts[:2]) if parts[0] == "platform" and len(parts) > 2 else parts[0]
    a = folders[folder]
    a[0] += f["line_covered"]
    a[1] += f["line_total"]
    a[2] += f["branch_covered"]
    a[3] += f["branch_total"]
print("| folder | lines | branches |\n|---|---|---|")
for name, (lc, lt, bc, bt) in sorted(folders.items()):
    print("| %s | %.1f%% (%d/%d) | %.1f%% (%d/%d) |" % (name, 100.0 * lc / max(lt, 1), lc, lt, 100.0 * bc / max(bt, 1), bc, bt))
