#!/usr/bin/env python3
"""make-windows-texts.py: the texts of the Windows zip, from the sources' own.

    tools/make-windows-texts.py VERSION SOURCE_DIR OUT_DIR

Writes OUT_DIR/README.txt, the parts of README.md a Windows user needs as plain text, and
OUT_DIR/LICENSE.txt, the licence. Both have Windows line ends (CR LF), and README.txt starts with
a UTF-8 byte order mark, so that Notepad of every Windows version shows them right.
"""
import re
import sys

# The README's sections for Windows users, by heading, in the order README.txt gives them; a
# section comes with its subsections.
SECTIONS = (
    "Install",
    "The Windows program: `tonflux.exe`",
    "Command-line converter: `tonflux-convert`",
    "Licence",
)
SKIPPED_SUBSECTIONS = ("Debian and Ubuntu", "Other Linux systems", "From source")


def plain(line):
    """A line of Markdown as plain text: no code marks, emphasis, pictures or link syntax."""
    line = re.sub(r"!\[[^\]]*\]\([^)]*\)\s*", "", line)
    line = re.sub(r"\[([^\]]+)\]\(([^)]+)\)",
                  lambda m: m[1] if m[1] == m[2] else "%s (%s)" % (m[1], m[2]), line)
    line = re.sub(r"\*\*([^*]+)\*\*", r"\1", line)
    return line.replace("`", "")


def extract(markdown, version):
    """The introduction and SECTIONS of markdown, in the order of SECTIONS, as plain text lines."""
    parts = {None: []}  # the lines of each section kept, by its title; None: the introduction
    part = None  # where the line at hand goes; False: nowhere
    level_kept = 0
    in_code = False
    for line in markdown.splitlines():
        if line.startswith("```"):
            in_code = not in_code
            continue
        heading = None if in_code else re.match(r"(#+) (.*)", line)
        if heading:
            level, title = len(heading[1]), heading[2].strip()
            if level == 1:
                continue
            if level_kept and level > level_kept:
                keep = title not in SKIPPED_SUBSECTIONS
                part = section if keep else False
            else:
                keep = title in SECTIONS
                level_kept = level if keep else 0
                section = part = title if keep else False
                parts[title] = []
            if keep:
                text = plain(title)
                parts[section] += [text, ("=" if level == 2 else "-") * len(text), ""]
            continue
        if part is not False and not line.startswith("<!--"):
            lines = parts[part]
            text = plain(line).rstrip()
            if text or (lines and lines[-1]):
                lines.append(text)
    out = ["Tonflux " + version, "=" * len("Tonflux " + version), ""]
    for key in (None,) + SECTIONS:
        lines = parts.get(key, [])
        while lines and not lines[-1]:
            lines.pop()
        if lines:
            out += lines + [""]
    return out[:-1]


def write(path, lines, bom):
    with open(path, "wb") as f:
        f.write((b"\xef\xbb\xbf" if bom else b"") + "".join(l + "\r\n" for l in lines).encode())


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip().splitlines()[2].strip())
    version, source, out = sys.argv[1:]
    with open(source + "/README.md", encoding="utf-8") as f:
        write(out + "/README.txt", extract(f.read(), version), bom=True)
    with open(source + "/LICENSE", encoding="utf-8") as f:
        write(out + "/LICENSE.txt", f.read().splitlines(), bom=False)


if __name__ == "__main__":
    main()
