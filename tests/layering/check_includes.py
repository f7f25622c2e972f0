#!/usr/bin/env python3
"""Checks the project's layering on its #include lines.

    check_includes.py SOURCE_ROOT
    check_includes.py --planted     (the check finds violations planted in a
                                     scratch tree, and passes a clean one)

The module (module/) sees only itself and include/; the host and the tools
never name a module header; and no layer reaches up: host < analysis <
report < cli, python. Prints every violation as FILE:LINE: why, and exits 1
when there is any.
"""
import pathlib
import re
import sys

MODULE_PARTS = ("platform", "numeric", "prob", "matrix", "engine", "extension")
# Each layer and the project folders it may include from (besides the
# system's headers and qvdep.h).
LAYERS = {
    "module": set(MODULE_PARTS),
    "host": {"host"},
    "analysis": {"host", "analysis"},
    "report": {"host", "analysis", "report"},
    "cli": {"host", "analysis", "report", "cli"},
    "python": {"host", "analysis", "report", "python"},
}
PROJECT_FOLDERS = set(MODULE_PARTS) | set(LAYERS) | {"module", "tests", "bench", "fuzz"}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def violations(root: pathlib.Path):
    for layer, allowed in LAYERS.items():
        for path in sorted((root / layer).rglob("*")):
            if path.suffix not in (".h", ".cpp", ".c"):
                continue
            for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = match.group(1)
                folder = target.split("/", 1)[0] if "/" in target else None
                if folder is None or folder not in PROJECT_FOLDERS:
                    continue  # qvdep.h, a header beside the file, a library's own
                if folder not in allowed:
                    where = path.relative_to(root)
                    yield f"{where}:{number}: {layer}/ may not include \"{target}\""


def planted() -> int:
    """A scratch tree, first clean, then with one violation of each kind."""
    import tempfile

    cases = {
        "host/guarded_call.cpp": '#include "platform/fp_control.h"',
        "cli/main.cpp": '#include "engine/run.h"',
        "module/engine/run.cpp": '#include "analysis/analysis.h"',
        "analysis/analysis.cpp": '#include "report/text_report.h"',
        "python/binding.cpp": '#include "cli/atomic_file.h"',
    }
    with tempfile.TemporaryDirectory() as scratch:
        root = pathlib.Path(scratch)
        for name in cases:
            (root / name).parent.mkdir(parents=True, exist_ok=True)
            (root / name).write_text('#include "qvdep.h"\n#include <vector>\n')
        (root / "cli/main.cpp").write_text('#include "analysis/analysis.h"\n#include "report/json.h"\n')
        clean = list(violations(root))
        for name, line in cases.items():
            with open(root / name, "a") as f:
                f.write(line + "\n")
        found = list(violations(root))
    ok = not clean and len(found) == len(cases)
    print(f"clean tree: {len(clean)} violation(s); planted {len(cases)}, found {len(found)}")
    for line in clean + found:
        print("  " + line)
    return 0 if ok else 1


def main() -> int:
    if sys.argv[1:] == ["--planted"]:
        return planted()
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    found = list(violations(pathlib.Path(sys.argv[1])))
    for line in found:
        print(line)
    print(f"layering: {len(found)} violation(s)")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
