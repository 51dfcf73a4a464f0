#!/usr/bin/env python3
"""Writes the profile-file corpus beside this script: the same hostile text in several encodings
and line endings. The files are committed; run this only to change them (then record golden.txt
again under Wine, see ini_corpus_test.cpp)."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))

BODY = [
    "; a comment before any section",
    "orphan=before any section",
    "[General]",
    "Name = Server One ",
    "name=a duplicate key",
    'Path="C:\\Program Files\\App"',
    "Single='quoted'",
    'Mismatch="open',
    "Inner=a \"b\" c",
    "Empty=",
    "  Spaced Key  =  spaced value  ",
    "\tTabbed\t=\ttab value\t",
    "no equals here",
    "=value without a name",
    "Two=a=b",
    "[general]",
    "Name=the second section of the same name",
    "Extra=only in the second",
    "[ Padded ]",
    "a=1",
    "[Broken",
    "b=2",
    "[Multi]]x]",
    "c=3",
    ";Commented=4",
    "[]",
    "empty section=5",
    "[;Hidden]",
    "h=6",
    "[Tail]",
    "last=no line end",
]


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def text(lines, ending):
    return ending.join(lines)


def main():
    write("crlf.ini", text(BODY, "\r\n").encode("ascii"))
    write("lf_ctrlz.ini", (text(BODY, "\n") + "\n\x1a").encode("ascii"))
    write("cr.ini", text(BODY, "\r").encode("ascii"))
    intl = BODY + ["[Intl]", "Caf\u00e9=cr\u00e8me", "\u4e2d\u6587=\u503c", "Emoji=\U0001F600"]
    write("utf16le.ini", b"\xff\xfe" + text(intl, "\r\n").encode("utf-16-le"))
    write("utf8bom.ini", b"\xef\xbb\xbf" + text(intl, "\r\n").encode("utf-8"))
    # Edits run on the text without its "[]" header: Windows keeps that section's keys but writes
    # the file back without the header, so they would join the section before it.
    edit = [line for line in intl if line not in ("[]", "empty section=5")]
    write("edit_crlf.ini", text([l for l in edit if l.isascii()], "\r\n").encode("ascii"))
    write("edit_utf16le.ini", b"\xff\xfe" + text(edit, "\r\n").encode("utf-16-le"))
    write("edit_utf8bom.ini", b"\xef\xbb\xbf" + text(edit, "\n").encode("utf-8"))
    long_lines = ["[Long]", "k" * 300 + "=long key", "v=" + "x" * 5000, "[After]", "z=1"]
    write("long.ini", text(long_lines, "\r\n").encode("ascii"))


if __name__ == "__main__":
    main()
