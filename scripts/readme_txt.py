#!/usr/bin/env python3
"""Writes README.txt for the Windows zip: the README's sections a Windows
operator needs, as plain text with Windows line ends.

usage: readme_txt.py README.md README.txt
"""
import sys

# Headings whose sections (with their subsections) are taken, in this order.
SECTIONS = ["On Windows", "Running h2mon", "Windows", "Unattended on Windows"]


def sections(lines):
    """Yields (heading, level, lines of the section with its subsections)."""
    headings = []
    fenced = False
    for index, line in enumerate(lines):
        if line.startswith("```"):
            fenced = not fenced
        elif not fenced and line.startswith("#"):
            level = len(line) - len(line.lstrip("#"))
            headings.append((index, level, line[level:].strip()))
    for number, (start, level, title) in enumerate(headings):
        end = len(lines)
        for later, later_level, _ in headings[number + 1 :]:
            if later_level <= level:
                end = later
                break
        yield title, level, lines[start:end]


def main():
    source, target = sys.argv[1:]
    with open(source, encoding="utf-8") as f:
        lines = f.read().splitlines()
    found = {}
    for title, level, body in sections(lines):
        # The first section of a name: "Windows" is the operator's under
        # "Connecting a maser", before the one on building for Windows.
        found.setdefault(title, body)
    missing = [title for title in SECTIONS if title not in found]
    if missing:
        sys.exit(f"readme_txt.py: no section {missing} in {source}")
    text = ["h2mon: recording the housekeeping telemetry of a hydrogen maser", ""]
    for title in SECTIONS:
        text += found[title] + [""]
    with open(target, "w", encoding="utf-8", newline="\r\n") as f:
        f.write("\n".join(text).rstrip("\n") + "\n")


if __name__ == "__main__":
    main()
