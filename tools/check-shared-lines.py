#!/usr/bin/python3
"""Fails when two source folders share a run of identical lines.

  tools/check-shared-lines.py [--min-lines 4] FOLDER_A FOLDER_B

Logic that two platforms need alike belongs in one place (platform/portable),
so platform/sim and platform/pulse must not share any run of --min-lines or
more identical lines. Lines are compared with their white space folded;
blank lines, comments, lines of punctuation alone, #include and #pragma lines
are passed over, as they say nothing of the logic. Prints every shared run
and exits 1 when there is one, 0 otherwise.
"""
import argparse
import os
import re
import sys

SOURCE_ENDINGS = (".cpp", ".h", ".cc", ".hpp")
PUNCTUATION_ONLY = re.compile(r"^[\s{}()\[\];,]*$")


def meaningful_lines(path):
    """(line number, folded text) of the lines that count."""
    kept = []
    with open(path, encoding="utf-8", errors="replace") as source:
        for number, line in enumerate(source, 1):
            text = line.split("//", 1)[0] if not re.search(r'"[^"]*//', line) else line
            text = " ".join(text.split())
            if not text or PUNCTUATION_ONLY.match(text) or text.startswith(("#include", "#pragma")):
                continue
            kept.append((number, text))
    return kept


def sources(folder):
    for root, _, names in os.walk(folder):
        for name in sorted(names):
            if name.endswith(SOURCE_ENDINGS):
                yield os.path.join(root, name)


def runs_of(lines, length):
    """Every window of `length` consecutive meaningful lines, by its texts."""
    for start in range(len(lines) - length + 1):
        window = lines[start:start + length]
        yield tuple(text for _, text in window), window[0][0], window[-1][0]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--min-lines", type=int, default=4)
    parser.add_argument("first")
    parser.add_argument("second")
    arguments = parser.parse_args()

    seen = {}
    for path in sources(arguments.first):
        for texts, begin, end in runs_of(meaningful_lines(path), arguments.min_lines):
            seen.setdefault(texts, (path, begin, end))
    shared = []
    for path in sources(arguments.second):
        for texts, begin, end in runs_of(meaningful_lines(path), arguments.min_lines):
            if texts in seen:
                other, other_begin, other_end = seen[texts]
                shared.append(f"{other}:{other_begin}-{other_end} ~ {path}:{begin}-{end}")
    for line in shared:
        print(line)
    if shared:
        print(f"{len(shared)} runs of {arguments.min_lines} or more identical lines are shared by "
              f"{arguments.first} and {arguments.second}: write them once in platform/portable")
        return 1
    print(f"no run of {arguments.min_lines} identical lines is shared by {arguments.first} and {arguments.second}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
