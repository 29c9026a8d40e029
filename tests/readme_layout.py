"""The README's layout table against the tree: every folder a row names exists, and every
top-level folder of the sources and every group folder of app/ has a row, so the table a
newcomer reads first does not drift from the code."""
import pathlib
import re
import subprocess
import sys

top = pathlib.Path(sys.argv[1])
rows = set()
in_layout = False
for line in (top / "README.md").read_text(encoding="utf-8").splitlines():
    if line.startswith("## "):
        in_layout = line.strip() == "## Layout"
    match = re.match(r"\| `([\w./-]+)/` \|", line) if in_layout else None
    if match:
        rows.add(match.group(1))

# Folders that hold no code of their own: resources, CI and the CMake helper scripts.
unlisted = {"app/res", "cmake", ".ci"}
# The folders git tracks, so that a build folder or a scratch folder of one's own counts not.
tracked = subprocess.run(["git", "-C", str(top), "ls-files"], capture_output=True, text=True,
                         check=True).stdout.splitlines()
expected = {parts[0] for parts in (f.split("/") for f in tracked) if len(parts) > 1}
expected |= {"/".join(parts[:2]) for parts in (f.split("/") for f in tracked)
             if len(parts) > 2 and parts[0] == "app"}
expected -= unlisted

faults = [f"row `{r}/` names no folder" for r in sorted(rows) if not (top / r).is_dir()]
faults += [f"folder `{f}/` has no row" for f in sorted(expected - rows)]
for fault in faults:
    print("README layout:", fault)
print(f"README layout: {len(rows)} rows, {len(faults)} faults")
sys.exit(1 if faults else 0)
