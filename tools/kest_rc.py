#!/usr/bin/env python3
"""String tables for POSIX builds, from the same .rc files that windres compiles on Windows.

    kest_rc.py table FILE.rc -o OUT.cpp [-I DIR]... [--symbol NAME [--data-only]]
                                        [--require ID,...] [--beside OTHER.rc]
        Writes a C++ source with FILE.rc's string blocks, which register under the module the
        source is linked into (kest/platform/module.h). --symbol names the table (a global
        kest::platform::StringTable), so that code can refer to it and a static archive keeps it;
        --data-only leaves it unregistered, for tests that compare tables.
        --require: the IDs that must be there. --beside: another table of the same module (a
        static library's), which may share no ID and no block of 16 with this one.
    kest_rc.py version 9.3.0.12 -o OUT [--windows]
        Writes the file version record: an ELF note (C++ source), or with --windows a VERSIONINFO
        resource script.
    kest_rc.py list FILE.rc [-I DIR]...
        Prints "ID<TAB>text" per string, text escaped as a C literal.
    kest_rc.py compare FILE.res FILE.rc [-I DIR]...
        Exit status 0 when the string blocks of windres's FILE.res equal the generator's.

The .rc subset understood: comments, #pragma code_page(65001), #include of headers holding
#define NAME number (with include guards and #pragma once), #define, LANGUAGE, and STRINGTABLE
blocks (options LANGUAGE, CHARACTERISTICS, VERSION) whose entries are an ID (a number, a defined
name, or a sum or difference of those) and one or more adjacent literals. Literals are decoded as
windres decodes them: narrow ones are UTF-8 bytes, wide ones (L"") one unit per character, with the
escapes \\n \\t \\r \\b \\f \\v \\\\, octal \\ooo, \\x (2 hex digits narrow, 4 wide) and "" for a
quote. What windres reads differently from its documentation - \\a, \\", unknown escapes, non-ASCII
text in a wide literal, bytes that are not UTF-8 - and anything else not understood stop the build
with FILE:LINE and a reason.
"""
import os
import re
import struct
import sys


class RcError(Exception):
    pass


def fail(where, message):
    raise RcError(f"{where}: {message}")


SIMPLE_ESCAPES = {"n": 0x0A, "t": 0x09, "r": 0x0D, "b": 0x08, "f": 0x0C, "v": 0x0B, "\\": 0x5C}


def decode_literal(body, wide, where):
    """The UTF-16 units of one literal's body (between its quotes)."""
    units = []
    raw = bytearray()
    i = 0
    hex_digits = 4 if wide else 2
    while i < len(body):
        c = body[i]
        if c == '"':  # only "" reaches here
            value = 0x22
            i += 2
        elif c != "\\":
            if wide and ord(c) > 0x7F:
                fail(where, "non-ASCII text in a wide literal (windres garbles it): use a narrow one")
            if c in "\r\n":
                fail(where, "a literal must end on its line")
            if wide:
                units.append(ord(c))
            else:
                raw.extend(c.encode("utf-8"))
            i += 1
            continue
        else:
            if i + 1 >= len(body):
                fail(where, "a literal ends in a backslash")
            e = body[i + 1]
            if e in SIMPLE_ESCAPES:
                value = SIMPLE_ESCAPES[e]
                i += 2
            elif e in "01234567":
                j = i + 1
                while j < len(body) and j < i + 4 and body[j] in "01234567":
                    j += 1
                value = int(body[i + 1:j], 8)
                i = j
            elif e == "x":
                j = i + 2
                while j < len(body) and j < i + 2 + hex_digits and body[j] in "0123456789abcdefABCDEF":
                    j += 1
                if j == i + 2:
                    fail(where, "\\x without hex digits")
                value = int(body[i + 2:j], 16)
                i = j
            else:
                fail(where, f"escape \\{e} is not understood (windres reads it otherwise than C)")
        if wide:
            units.append(value)
        else:
            raw.append(value & 0xFF)
    if wide:
        return units
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError:
        fail(where, "the literal's bytes are not UTF-8 (code page 65001)")
    encoded = text.encode("utf-16-le", "surrogatepass")
    return list(struct.unpack(f"<{len(encoded) // 2}H", encoded))


TOKEN = re.compile(r'''
    (?P<space>[ \t\r\f\v]+) |
    (?P<newline>\n) |
    (?P<comment>//[^\n]*|/\*.*?\*/) |
    (?P<string>L?"(?:[^"\\\n]|\\.|"")*") |
    (?P<number>(?:0[xX][0-9a-fA-F]+|[0-9]+)[lLuU]*) |
    (?P<name>[A-Za-z_][A-Za-z0-9_]*) |
    (?P<punct>[,{}()+\-|])
''', re.VERBOSE | re.DOTALL)


class Source:
    """One file's tokens, with its #defines applied and its #includes read."""

    def __init__(self, path, include_dirs, defines):
        self.path = path
        self.include_dirs = include_dirs
        self.defines = defines
        self.tokens = []  # (kind, text, line)
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError as e:
            fail(path, f"cannot read: {e.strerror}")
        if data.startswith(b"\xef\xbb\xbf"):
            data = data[3:]
        try:
            text = data.decode("utf-8")
        except UnicodeDecodeError:
            fail(path, "not UTF-8")
        self.lex(text)

    def where(self, line):
        return f"{self.path}:{line}"

    def directive(self, text, line):
        words = text[1:].strip()
        if words.startswith("pragma"):
            rest = words[len("pragma"):].strip()
            if rest == "once":
                return
            m = re.fullmatch(r"code_page\s*\(\s*(\d+)\s*\)", rest)
            if m and m.group(1) == "65001":
                return
            fail(self.where(line), f"#pragma {rest} is not understood (only code_page(65001))")
        m = re.fullmatch(r'include\s*[<"]([^>"]+)[>"]', words)
        if m:
            base = os.path.dirname(self.path)
            for folder in [base] + self.include_dirs:
                candidate = os.path.join(folder, m.group(1))
                if os.path.isfile(candidate):
                    included = Source(candidate, self.include_dirs, self.defines)
                    if included.tokens:
                        fail(included.where(included.tokens[0][2]),
                             "an included file may hold only directives")
                    return
            fail(self.where(line), f"cannot find {m.group(1)}")
        m = re.fullmatch(r"define\s+([A-Za-z_]\w*)(?:\s+(.*))?", words)
        if m:
            self.defines[m.group(1)] = (m.group(2) or "").strip()
            return
        if re.fullmatch(r"(ifndef|ifdef)\s+\w+|endif", words):
            return  # include guards: every header is read once anyway
        fail(self.where(line), f"directive #{words} is not understood")

    def lex(self, text):
        line = 1
        pos = 0
        at_line_start = True
        while pos < len(text):
            if at_line_start:
                m = re.match(r"[ \t]*#([^\n]*)", text[pos:])
                if m:
                    directive = m.group(0).strip()
                    # Comments after a directive go; nothing else may follow it.
                    directive = re.sub(r"\s*(//.*|/\*.*?\*/)\s*$", "", directive)
                    self.directive(directive, line)
                    pos += m.end()
                    continue
            m = TOKEN.match(text, pos)
            if not m:
                fail(self.where(line), f"unexpected text {text[pos:pos + 20]!r}")
            kind = m.lastgroup
            value = m.group(kind)
            pos = m.end()
            if kind == "newline":
                line += 1
                at_line_start = True
                continue
            if kind in ("space", "comment"):
                line += value.count("\n")
                continue
            at_line_start = False
            if kind == "name" and value in self.defines:
                expansion = self.defines[value]
                if not re.fullmatch(r"(0[xX][0-9a-fA-F]+|[0-9]+)[lLuU]*|\(?-?\s*\d+\s*\)?", expansion):
                    fail(self.where(line), f"{value} does not stand for a number")
                self.tokens.append(("number", expansion.strip("() "), line))
                continue
            self.tokens.append((kind, value, line))


def number_value(text):
    text = text.rstrip("lLuU")
    return int(text, 16) if text[:2].lower() == "0x" else int(text, 10)


class Parser:
    def __init__(self, source):
        self.source = source
        self.tokens = source.tokens
        self.i = 0
        self.strings = {}  # id -> (units, line)

    def peek(self, offset=0):
        j = self.i + offset
        return self.tokens[j] if j < len(self.tokens) else ("end", "", self.tokens[-1][2] if self.tokens else 0)

    def take(self):
        token = self.peek()
        self.i += 1
        return token

    def where(self, token=None):
        return self.source.where((token or self.peek())[2])

    def expression(self):
        """A number, or numbers joined by + and - (an ID such as IDS_BASE + 3)."""
        kind, text, _ = self.take()
        sign = 1
        if kind == "punct" and text == "-":
            sign = -1
            kind, text, _ = self.take()
        if kind != "number":
            fail(self.where(), f"a number was expected, not {text!r}")
        value = sign * number_value(text)
        while self.peek()[0] == "punct" and self.peek()[1] in "+-":
            op = self.take()[1]
            kind, text, _ = self.take()
            if kind != "number":
                fail(self.where(), f"a number was expected after {op}")
            value = value + number_value(text) if op == "+" else value - number_value(text)
        return value

    def keyword(self, *words):
        kind, text, _ = self.peek()
        return kind == "name" and text.upper() in words

    def parse(self):
        while self.peek()[0] != "end":
            if self.keyword("LANGUAGE"):
                self.take()
                self.expression()
                if self.take()[1] != ",":
                    fail(self.where(), "LANGUAGE needs two numbers")
                self.expression()
            elif self.keyword("STRINGTABLE"):
                self.take()
                self.stringtable()
            else:
                fail(self.where(), f"{self.peek()[1]!r} is not understood (only STRINGTABLE and LANGUAGE)")
        return self.strings

    def stringtable(self):
        while self.keyword("LANGUAGE", "CHARACTERISTICS", "VERSION", "DISCARDABLE", "PURE",
                           "MOVEABLE", "PRELOAD", "LOADONCALL", "IMPURE", "FIXED"):
            word = self.take()[1].upper()
            if word in ("LANGUAGE",):
                self.expression()
                if self.take()[1] != ",":
                    fail(self.where(), "LANGUAGE needs two numbers")
                self.expression()
            elif word in ("CHARACTERISTICS", "VERSION"):
                self.expression()
        opener = self.take()
        if not (opener[1] == "{" or opener[1].upper() == "BEGIN"):
            fail(self.where(opener), "STRINGTABLE needs BEGIN or {")
        while True:
            token = self.peek()
            if token[1] == "}" or (token[0] == "name" and token[1].upper() == "END"):
                self.take()
                return
            if token[0] == "end":
                fail(self.where(token), "STRINGTABLE without END")
            id_token = self.peek()
            ident = self.expression()
            if not 0 <= ident <= 0xFFFF:
                fail(self.where(id_token), f"ID {ident} is outside 0..65535")
            if self.peek()[1] == ",":
                self.take()
            units = []
            if self.peek()[0] != "string":
                fail(self.where(), f"ID {ident} needs a quoted text")
            while self.peek()[0] == "string":
                kind, text, line = self.take()
                wide = text.startswith("L")
                body = text[2:-1] if wide else text[1:-1]
                units += decode_literal(body, wide, self.source.where(line))
            if len(units) > 0xFFFF:
                fail(self.where(id_token), f"ID {ident} is longer than 65535 units")
            if ident in self.strings:
                fail(self.where(id_token),
                     f"ID {ident} appears twice (first on line {self.strings[ident][1]})")
            self.strings[ident] = (units, id_token[2])


def read_table(path, include_dirs):
    return Parser(Source(path, include_dirs, {})).parse()


def blocks_of(strings):
    """Block number -> the block's units: 16 entries, each a count and that many units. An empty
    text is a count of 0, as windres writes it."""
    blocks = {}
    for ident, (units, _) in strings.items():
        blocks.setdefault(ident // 16 + 1, [None] * 16)[ident % 16] = units
    packed = {}
    for number, entries in sorted(blocks.items()):
        out = []
        for entry in entries:
            entry = entry or []
            out.append(len(entry))
            out += entry
        packed[number] = out
    return packed


def cpp_units(units):
    """The units as lines of one char16_t string literal: printable ASCII as itself, every other
    unit as a hex escape (a literal ends after an escape that a hex digit would follow)."""
    lines = []
    for start in range(0, len(units), 64):
        piece = []
        escaped = False
        for u in units[start:start + 64]:
            ch = chr(u)
            if 0x20 <= u < 0x7F and ch not in '"\\?':
                if escaped and ch in "0123456789abcdefABCDEF":
                    piece.append('" u"')
                piece.append(ch)
                escaped = False
            else:
                piece.append(f"\\x{u:X}")
                escaped = True
        lines.append('    u"' + "".join(piece) + '"')
    return "\n".join(lines)


def write_table(args):
    strings = read_table(args.input, args.include)
    for required in args.require:
        if required not in strings or not strings[required][0]:
            fail(args.input, f"the table must hold ID {required}")
    if args.beside:
        other = read_table(args.beside, args.include)
        for ident, (_, line) in sorted(strings.items()):
            if ident in other:
                fail(f"{args.input}:{line}", f"ID {ident} is also in {args.beside}, "
                     "which shares this module")
        shared = set(i // 16 for i in strings) & set(i // 16 for i in other)
        if shared:
            first = min(shared) * 16
            fail(args.input, f"IDs {first}..{first + 15} are a block of 16 shared with "
                 f"{args.beside}, which shares this module: keep each block in one table")
    blocks = blocks_of(strings)
    units = []
    records = []
    for number, block in blocks.items():
        records.append(f"    {{{number}, {len(units)}, {len(block)}}},")
        units += block
    name = args.symbol or "kTable"
    out = [f"// Generated by tools/kest_rc.py from {os.path.basename(args.input)}: do not edit.",
           '#include "kest/platform/module.h"',
           "",
           "// One literal holds the whole table, longer than the 65,536 characters that compilers",
           "// must support and GCC and Clang do.",
           "#if defined(__GNUC__)",
           '#pragma GCC diagnostic ignored "-Woverlength-strings"',
           "#endif",
           "",
           "namespace {",
           "constinit const char16_t kUnits[] =",
           (cpp_units(units) or '    u""') + ";",
           "constinit const kest::platform::StringTableBlock kBlocks[] = {",
           "\n".join(records) or "    {0, 0, 0},",
           "};",
           "}  // namespace",
           ""]
    count = len(records)
    definition = f"constinit kest::platform::StringTable {name}{{kBlocks, {count}, kUnits}};"
    if args.symbol:
        out += [f"extern kest::platform::StringTable {name};", definition]
    else:
        out += ["namespace {", definition, "}  // namespace"]
    if not args.data_only:
        out += ["",
                "namespace {",
                "// Before any static object of this module asks for a string; after all of them at",
                "// unload.",
                "[[gnu::constructor(101)]] void RegisterTable() {",
                f"  kest::platform::RegisterStringTable({name});",
                "}",
                "[[gnu::destructor(101)]] void UnregisterTable() {",
                f"  kest::platform::UnregisterStringTable({name});",
                "}",
                "}  // namespace"]
    write_if_changed(args.output, "\n".join(out) + "\n")


def write_if_changed(path, text):
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def parse_version(text):
    parts = text.split(".")
    if len(parts) != 4 or not all(p.isdigit() and int(p) <= 0xFFFF for p in parts):
        fail("version", f"{text!r} is not four numbers 0..65535 joined by dots")
    return [int(p) for p in parts]


def write_version(args):
    major, minor, build, revision = parse_version(args.input)
    ms, ls = (major << 16) | minor, (build << 16) | revision
    if args.windows:
        text = f"""// Generated by tools/kest_rc.py: do not edit.
#include <winver.h>
1 VERSIONINFO
FILEVERSION {major},{minor},{build},{revision}
PRODUCTVERSION {major},{minor},{build},{revision}
FILEFLAGSMASK 0x3fL
FILEFLAGS 0x0L
FILEOS 0x40004L
FILETYPE 0x1L
FILESUBTYPE 0x0L
BEGIN
    BLOCK "StringFileInfo"
    BEGIN
        BLOCK "040904b0"
        BEGIN
            VALUE "FileVersion", "{args.input}"
            VALUE "ProductVersion", "{args.input}"
        END
    END
    BLOCK "VarFileInfo"
    BEGIN
        VALUE "Translation", 0x409, 1200
    END
END
"""
    else:
        # An ELF note in a loaded segment: name "Kest", type 1, the fixed file-version block's
        # two words (dwFileVersionMS, dwFileVersionLS).
        text = f"""// Generated by tools/kest_rc.py: do not edit.
__asm__(".pushsection .note.kest.version,\\"a\\",%note\\n"
        ".balign 4\\n"
        ".long 5, 8, 1\\n"
        ".asciz \\"Kest\\"\\n"
        ".balign 4\\n"
        ".long 0x{ms:08X}, 0x{ls:08X}\\n"
        ".popsection\\n");
"""
    write_if_changed(args.output, text)


def escape(units):
    out = []
    text = struct.pack(f"<{len(units)}H", *units).decode("utf-16-le", "surrogatepass")
    for ch in text:
        code = ord(ch)
        if ch == "\\":
            out.append("\\\\")
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\t":
            out.append("\\t")
        elif code < 0x20 or code == 0x7F or 0xD800 <= code <= 0xDFFF:
            out.append(f"\\x{code:02X}" if code < 0x100 else f"\\u{code:04X}")
        else:
            out.append(ch)
    return "".join(out)


def res_blocks(path):
    """Block number -> units of every RT_STRING resource in a .res file."""
    with open(path, "rb") as f:
        data = f.read()
    blocks = {}
    offset = 0
    while offset + 8 <= len(data):
        size, header = struct.unpack_from("<II", data, offset)
        kind = struct.unpack_from("<HH", data, offset + 8)
        name = struct.unpack_from("<HH", data, offset + 12)
        body = data[offset + header:offset + header + size]
        if kind == (0xFFFF, 6) and name[0] == 0xFFFF:
            blocks[name[1]] = list(struct.unpack(f"<{len(body) // 2}H", body))
        offset = (offset + header + size + 3) & ~3
    return blocks


def main(argv):
    import argparse
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("command", choices=["table", "version", "list", "compare"])
    parser.add_argument("input")
    parser.add_argument("rc", nargs="?")
    parser.add_argument("-o", "--output")
    parser.add_argument("-I", "--include", action="append", default=[])
    parser.add_argument("--symbol")
    parser.add_argument("--data-only", action="store_true")
    parser.add_argument("--require", type=lambda s: [int(x) for x in s.split(",") if x], default=[])
    parser.add_argument("--beside")
    parser.add_argument("--windows", action="store_true")
    args = parser.parse_args(argv)
    try:
        if args.command == "table":
            write_table(args)
        elif args.command == "version":
            write_version(args)
        elif args.command == "list":
            for ident, (units, _) in sorted(read_table(args.input, args.include).items()):
                if units:
                    print(f"{ident}\t{escape(units)}")
        else:
            expected = blocks_of(read_table(args.rc, args.include))
            actual = res_blocks(args.input)
            if expected != actual:
                for number in sorted(set(expected) | set(actual)):
                    if expected.get(number) != actual.get(number):
                        print(f"block {number}: windres {actual.get(number)} "
                              f"generator {expected.get(number)}")
                return 1
            print(f"{len(actual)} string blocks identical")
    except RcError as e:
        print(f"kest_rc.py: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
