#!/usr/bin/env python3
"""Writes a string table of COUNT texts with IDs from FIRST, for tests and benchmarks that need a
table of a real product's size: sample_rc.py OUT.rc FIRST COUNT"""
import sys

out, first, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
words = ["server", "disk", "monitor", "alert", "{0}", "threshold", "of", "{1}", "the", "status"]
lines = ["#pragma code_page(65001)", "LANGUAGE 0x09, 0x01", "STRINGTABLE", "BEGIN"]
for i in range(count):
    ident = first + i
    text = " ".join(words[(ident * 7 + k) % len(words)] for k in range(2 + ident % 9))
    lines.append(f'    {ident} "Text {ident}: {text}"')
lines.append("END")
text = "\n".join(lines) + "\n"
try:
    with open(out, encoding="utf-8") as f:
        if f.read() == text:
            sys.exit(0)
except OSError:
    pass
with open(out, "w", encoding="utf-8") as f:
    f.write(text)
