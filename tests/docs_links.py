#!/usr/bin/env python3
"""Fails when a relative link in README.md or docs/*.md leads nowhere: to a file that does not
exist, or to an #anchor that no heading of the target page makes.

Anchors follow GitHub's rule for headings: lower-case, punctuation dropped (letters, digits, '_',
'-' and spaces kept), each space a '-', and a repeated heading gets -1, -2, ... appended.
Links inside code blocks and code spans are not links.

    docs_links.py SOURCE_ROOT
"""
import pathlib
import re
import sys

LINK = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
HEADING = re.compile(r"^ {0,3}(#{1,6})\s+(.*?)\s*#*\s*$")
FENCE = re.compile(r"^ {0,3}(```|~~~)")
CODE_SPAN = re.compile(r"(`+)(.+?)\1")


def prose_lines(text):
    """The page's lines outside fenced code blocks, with their numbers."""
    fenced = None
    for number, line in enumerate(text.splitlines(), 1):
        fence = FENCE.match(line)
        if fence:
            if fenced is None:
                fenced = fence.group(1)
            elif fence.group(1) == fenced:
                fenced = None
            continue
        if fenced is None:
            yield number, line


def slug(heading):
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link in a heading keeps its text
    text = text.lower()
    text = "".join(c for c in text if c.isalnum() or c in "_- ")
    return text.replace(" ", "-")


def anchors(page):
    seen, result = {}, set()
    for _, line in prose_lines(page.read_text(encoding="utf-8")):
        match = HEADING.match(line)
        if not match:
            continue
        base = slug(match.group(2))
        count = seen.get(base, 0)
        seen[base] = count + 1
        result.add(base if count == 0 else f"{base}-{count}")
    return result


def check(root):
    pages = [root / "README.md"] + sorted((root / "docs").glob("*.md"))
    broken, cache = [], {}
    for page in pages:
        for number, line in prose_lines(page.read_text(encoding="utf-8")):
            for match in LINK.finditer(CODE_SPAN.sub("", line)):
                target = match.group(1)
                if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.IGNORECASE):
                    continue  # a web address or mailto:, not a file of this tree
                path_part, _, anchor = target.partition("#")
                where = f"{page.relative_to(root)}:{number}: {target}"
                destination = (page.parent / path_part).resolve() if path_part else page
                if not destination.exists():
                    broken.append(f"{where}: no file {path_part}")
                    continue
                if not anchor:
                    continue
                if destination.suffix != ".md":
                    broken.append(f"{where}: an anchor into {destination.name}, which has no headings")
                    continue
                if destination not in cache:
                    cache[destination] = anchors(destination)
                if anchor not in cache[destination]:
                    broken.append(f"{where}: no heading makes #{anchor} in {destination.relative_to(root)}")
    return pages, broken


def main(root):
    pages, broken = check(root)
    for line in broken:
        print(line)
    if broken:
        print(f"{len(broken)} broken link(s) in {len(pages)} page(s)")
        return 1
    print(f"every relative link in {len(pages)} page(s) leads to a file and heading that exist")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: docs_links.py SOURCE_ROOT")
    sys.exit(main(pathlib.Path(sys.argv[1]).resolve()))
