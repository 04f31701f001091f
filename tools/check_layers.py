#!/usr/bin/env python3
"""Checks that the sources keep the layering that docs/architecture.md writes down.

The table under "## Who may include whom" in docs/architecture.md is the rule: each row names a
folder and the folders its files may include besides their own. A file belongs to the row of the
longest folder that holds it; an entry written `folder/*` allows only the headers directly in that
folder, not those of its sub-folders. Folders without a row (tests/, bench/, tools/, fuzz/) may
include anything. The check also refuses `_WIN32` tests outside platform/.

    tools/check_layers.py [ROOT]      exits 0 when the tree keeps its layers, 1 otherwise
"""

import pathlib
import re
import sys

TABLE_HEADING = "## Who may include whom"
SOURCE_SUFFIXES = {".cpp", ".h"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
WINDOWS_TEST = re.compile(r"^\s*#\s*(if|ifdef|ifndef|elif)\b.*\b_WIN32\b")
PLATFORM_ONLY = ("platform/",)


def read_rules(architecture_text):
    """Returns {folder: [allowed entries]} from the include table of the architecture page."""
    rules = {}
    in_table = False
    for line in architecture_text.splitlines():
        if line.startswith("## "):
            in_table = line.strip() == TABLE_HEADING
            continue
        if not in_table or not line.startswith("|"):
            continue
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        folder = re.findall(r"`([^`]+)`", cells[0])
        if len(cells) < 2 or not folder:
            continue  # the header row and its rule
        rules[folder[0]] = re.findall(r"`([^`]+)`", cells[-1])
    return rules


def owning_folder(path, rules):
    """The longest folder of the table that holds `path`, or None."""
    owners = [folder for folder in rules if path.startswith(folder)]
    return max(owners, key=len) if owners else None


def allows(entry, included):
    if entry.endswith("/*"):
        folder = entry[:-1]
        return included.startswith(folder) and "/" not in included[len(folder):]
    return included.startswith(entry)


def problems_in(path, text, rules):
    """The broken rules of one source file, as lines for the report."""
    found = []
    owner = owning_folder(path, rules)
    for number, line in enumerate(text.splitlines(), start=1):
        if WINDOWS_TEST.match(line) and not path.startswith(PLATFORM_ONLY):
            found.append(f"{path}:{number}: tests _WIN32 outside platform/")
        match = INCLUDE.match(line)
        if owner is None or match is None:
            continue
        included = match.group(1)
        if "/" not in included or included.startswith(owner):
            continue  # a header beside the file, or one of its own folder
        if not any(allows(entry, included) for entry in rules[owner]):
            found.append(f"{path}:{number}: {owner} may not include {included}")
    return found


def check_tree(root):
    root = pathlib.Path(root)
    rules = read_rules((root / "docs" / "architecture.md").read_text(encoding="utf-8"))
    if not rules:
        return [f"docs/architecture.md has no table under '{TABLE_HEADING}'"]
    found = []
    for file in sorted(root.rglob("*")):
        relative = file.relative_to(root).as_posix()
        if file.suffix in SOURCE_SUFFIXES and not relative.startswith(("build", ".")):
            found += problems_in(relative, file.read_text(encoding="utf-8", errors="replace"), rules)
    return found


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent
    found = check_tree(root)
    for line in found:
        print(line)
    print("layers: " + ("kept" if not found else f"{len(found)} broken includes or platform tests"))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
