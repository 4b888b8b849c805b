#!/usr/bin/python3
"""Doxygen input filter: prints a header with its row-table invocations expanded.

    docs_expand_rows.py CXX INCLUDE_ROOT HEADER

TAdvBody's index-table operations and the procedural functions are declared by expanding
tables of rows (GELSIM_MASS_OPS(...), GELSIM_PROC_ROWS(...)). Their declaration macros use
__VA_OPT__, which doxygen's own preprocessor does not know, so the compiler's preprocessor
expands each invocation here, with the header's own #defines in force, and the reference
lists one declaration per line. Headers without such an invocation pass unchanged.
"""
import re
import subprocess
import sys

INVOCATION = re.compile(r"^[ \t]*(GELSIM_[A-Z_]+_OPS|GELSIM_PROC_ROWS)\(", re.M)
CUT = "@@gelsim-docs-cut@@"


def invocations(text):
    """(start, end) of each invocation, from its name to its closing parenthesis."""
    spans = []
    for m in INVOCATION.finditer(text):
        depth, i = 0, m.end() - 1
        while i < len(text):
            depth += {"(": 1, ")": -1}.get(text[i], 0)
            if depth == 0:
                break
            i += 1
        spans.append((m.start(1), i + 1))
    return spans


def defines(text):
    """Every #define of the header, continuation lines included."""
    out, lines, k = [], text.split("\n"), 0
    while k < len(lines):
        if re.match(r"\s*#\s*define\b", lines[k]):
            while lines[k].endswith("\\") and k + 1 < len(lines):
                out.append(lines[k])
                k += 1
            out.append(lines[k])
        k += 1
    return "\n".join(out)


def main():
    cxx, root, path = sys.argv[1:4]
    with open(path, encoding="utf-8") as f:
        text = f.read()
    spans = invocations(text)
    if not spans:
        sys.stdout.write(text)
        return
    unit = ['#include "gelsim/bodies/BodyOps.h"', '#include "gelsim/bodies/ProceduralTable.h"', defines(text)]
    unit += [CUT + "\n" + text[a:b] for a, b in spans]
    done = subprocess.run([cxx, "-E", "-P", "-std=c++20", "-x", "c++", "-I", root, "-"], input="\n".join(unit),
                          capture_output=True, text=True, check=True)
    pieces = done.stdout.split(CUT)[1:]
    out, at = [], 0
    for (a, b), piece in zip(spans, pieces):
        indent = text[text.rfind("\n", 0, a) + 1:a]
        flat = re.sub(r"\s+([,)])", r"\1", " ".join(piece.split()))
        flat = re.sub(r"(\w) \(", r"\1(", flat)
        decls = [d.strip() for d in flat.split(";")]
        out.append(text[at:a])
        out.append((";\n" + indent).join(d for d in decls if d) + (";" if piece.rstrip().endswith(";") else ""))
        at = b
    out.append(text[at:])
    sys.stdout.write("".join(out))


if __name__ == "__main__":
    main()
