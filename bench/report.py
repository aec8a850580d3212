"""The benchmarks' sections of docs/performance.md: each between its own two
marker lines, rewritten in place, or added at the end the first time."""
import os


def write_section(report, begin, end, lines):
    """Puts `lines` between the markers `begin` and `end` in `report`, and prints them."""
    section = "\n".join([begin, "", *lines, "", end]) + "\n"
    text = open(report).read() if os.path.exists(report) else ""
    if begin in text and end in text:
        text = text[:text.index(begin)] + section + text[text.index(end) + len(end) + 1:]
    else:
        text = text.rstrip("\n") + "\n\n" + section
    with open(report, "w") as out:
        out.write(text)
    print(section)
