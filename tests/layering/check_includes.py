#!/usr/bin/env python3
"""Checks the project's layering on its #include lines.

    check_includes.py SOURCE_ROOT
    check_includes.py --planted     (the check finds violations planted in a
                                     scratch tree, and passes a clean one)

The module (module/) sees only itself and include/; the host and the tools
never name a module header; and no layer reaches up: host < analysis <
report < cli, python, r (the R package's glue in r/src). Within the analysis library each part sees only the
parts below it (common, linalg < input < layout < models < stats < result <
driver, as ANALYSIS lists), and the report library sees only its result
record. Prints every violation as FILE:LINE: why, and exits 1 when there is
any.
"""
import pathlib
import re
import sys

MODULE_PARTS = ("platform", "numeric", "prob", "matrix", "engine", "extension")
# The analysis library's parts, each seeing those before it that it needs.
ANALYSIS = {
    "analysis/common": {"analysis/common"},
    "analysis/linalg": {"analysis/linalg"},
    "analysis/input": {"analysis/common", "analysis/input"},
    "analysis/layout": {"host", "analysis/common", "analysis/input", "analysis/layout"},
    "analysis/models": {"host", "analysis/common", "analysis/linalg", "analysis/input",
                        "analysis/layout", "analysis/models"},
    "analysis/stats": {"host", "analysis/common", "analysis/linalg", "analysis/input",
                       "analysis/models", "analysis/stats"},
    "analysis/result": {"host", "analysis/common", "analysis/linalg", "analysis/input",
                        "analysis/result"},
    "analysis/driver": {"host", "analysis/common", "analysis/linalg", "analysis/input",
                        "analysis/layout", "analysis/models", "analysis/stats", "analysis/result",
                        "analysis/driver"},
}
# What a tool library may name of the analysis library: the report library
# sees only the result record (and the common messages), the tools the rest.
FOR_TOOLS = {"analysis/common", "analysis/input", "analysis/layout", "analysis/result",
             "analysis/driver"}
# Each layer and the project folders it may include from (besides the
# system's headers and qvdep.h).
LAYERS = {
    "module": set(MODULE_PARTS),
    "host": {"host"},
    **ANALYSIS,
    "report": {"host", "analysis/common", "analysis/result", "report"},
    "cli": {"host", "report", "cli"} | FOR_TOOLS,
    "python": {"host", "report", "python"} | FOR_TOOLS,
    "r": {"host", "report"} | FOR_TOOLS,
}
PROJECT_FOLDERS = (set(MODULE_PARTS) | set(LAYERS) | {"module", "tests", "bench", "fuzz", "analysis"})
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def folder_of(target: str):
    """The layer an included path names: "analysis/stats" for
    "analysis/stats/cd_star.h", "report" for "report/report.h"."""
    if "/" not in target:
        return None
    parts = target.split("/")
    if parts[0] == "analysis" and len(parts) > 2:
        return "analysis/" + parts[1]
    return parts[0]


def violations(root: pathlib.Path):
    # Every source of the analysis library lives in one of its parts.
    for path in sorted((root / "analysis").glob("*")):
        if path.suffix in (".h", ".cpp", ".c"):
            yield f"{path.relative_to(root)}: analysis/ keeps its sources in its parts"
    for layer, allowed in LAYERS.items():
        if not (root / layer).is_dir():
            continue
        for path in sorted((root / layer).rglob("*")):
            if path.suffix not in (".h", ".cpp", ".c"):
                continue
            for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = match.group(1)
                folder = folder_of(target)
                if folder is None or folder.split("/")[0] not in PROJECT_FOLDERS:
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
        "module/engine/run.cpp": '#include "analysis/driver/analysis.h"',
        "analysis/driver/analysis.cpp": '#include "report/text_report.h"',
        "analysis/stats/cd_star.cpp": '#include "analysis/driver/analysis.h"',
        "analysis/input/csv_reader.cpp": '#include "analysis/layout/wide_panel.h"',
        "analysis/models/panel_model.cpp": '#include "analysis/stats/cd_star.h"',
        "report/report.cpp": '#include "analysis/driver/analysis.h"',
        "python/binding.cpp": '#include "cli/atomic_file.h"',
        "r/src/init.cpp": '#include "analysis/stats/cd_star.h"',
    }
    with tempfile.TemporaryDirectory() as scratch:
        root = pathlib.Path(scratch)
        for name in cases:
            (root / name).parent.mkdir(parents=True, exist_ok=True)
            (root / name).write_text('#include "qvdep.h"\n#include <vector>\n')
        (root / "cli/main.cpp").write_text('#include "analysis/driver/analysis.h"\n'
                                           '#include "report/json.h"\n')
        clean = list(violations(root))
        for name, line in cases.items():
            with open(root / name, "a") as f:
                f.write(line + "\n")
        (root / "analysis/loose.cpp").write_text('#include "qvdep.h"\n')  # in no part
        found = list(violations(root))
    ok = not clean and len(found) == len(cases) + 1
    print(f"clean tree: {len(clean)} violation(s); planted {len(cases) + 1}, found {len(found)}")
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
