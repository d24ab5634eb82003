#!/usr/bin/env python3
"""Seeds the fuzz corpora from the tests and the benchmark set.

Usage: fuzz/seed.py OUTDIR   (writes OUTDIR/<target>/<sha1> files)

The string literals of the test sources (adjacent literals joined, escapes decoded) become
expression texts, number texts, registry files and notations; the automation frames are
encoded here from sample messages like those of the wire tests. run.sh merges such seeds into
the committed corpus, keeping only what adds coverage.
"""
import hashlib
import os
import re
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BENCH = os.path.join(ROOT, "..", "shared", "bench", "expressions.txt")

SIMPLE_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "0": "\0", "\\": "\\", '"': '"', "'": "'",
                  "a": "\a", "b": "\b", "f": "\f", "v": "\v", "?": "?"}


def decode(body):
    """Decodes the escapes of a C++ string literal's body to bytes (UTF-8 source)."""
    out = bytearray()
    i = 0
    while i < len(body):
        c = body[i]
        if c != "\\":
            out += c.encode("utf-8")
            i += 1
            continue
        n = body[i + 1]
        if n == "x":
            m = re.match(r"[0-9a-fA-F]+", body[i + 2:])
            out.append(int(m.group(0), 16) & 0xFF)
            i += 2 + len(m.group(0))
        elif n in "01234567":
            m = re.match(r"[0-7]{1,3}", body[i + 1:])
            out.append(int(m.group(0), 8) & 0xFF)
            i += 1 + len(m.group(0))
        elif n in "uU":
            size = 4 if n == "u" else 8
            out += chr(int(body[i + 2:i + 2 + size], 16)).encode("utf-8")
            i += 2 + size
        else:
            out += SIMPLE_ESCAPES.get(n, n).encode("utf-8")
            i += 2
    return bytes(out)


TOKEN = re.compile(r'''
    (?P<comment>//[^\n]*|/\*.*?\*/)
  | (?P<raw>(?:u8|u|U|L)?R"(?P<delim>[^(\s]*)\((?P<rawbody>.*?)\)(?P=delim)")
  | (?P<str>(?:u8|u|U|L)?"(?P<body>(?:[^"\\\n]|\\.)*)")
  | (?P<chr>'(?:[^'\\\n]|\\.)*')
  | (?P<space>\s+)
  | (?P<other>.)
''', re.S | re.X)


def literals(path):
    """The string literals of a source file, adjacent ones joined."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    groups, current = [], None
    for m in TOKEN.finditer(text):
        kind = m.lastgroup if m.lastgroup not in ("delim", "rawbody", "body") else None
        if m.group("raw") is not None:
            part = m.group("rawbody").encode("utf-8")
        elif m.group("str") is not None:
            part = decode(m.group("body"))
        elif m.group("comment") is not None or m.group("space") is not None:
            continue
        else:
            part = None
        if part is None:
            if current is not None:
                groups.append(current)
            current = None
        else:
            current = part if current is None else current + part
        del kind
    if current is not None:
        groups.append(current)
    return groups


def sources(folder):
    path = os.path.join(ROOT, "tests", folder)
    return sorted(os.path.join(path, n) for n in os.listdir(path) if n.endswith((".cpp", ".h")))


def write(outdir, target, data):
    folder = os.path.join(outdir, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, hashlib.sha1(data).hexdigest()), "wb") as f:
        f.write(data)


def bench_expressions():
    lines = []
    with open(BENCH, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or ";" not in line:
                continue
            lines.append(line.rstrip("\n").split(";", 2)[2].encode("utf-8"))
    return lines


def looks_like_expression(s):
    return 0 < len(s) <= 200 and b"\n" not in s and re.search(rb"[0-9a-z()]", s) is not None


def seed_expression(outdir):
    texts = []
    for folder in ("parser", "vocabulary"):
        for path in sources(folder):
            cstyle = "CStyle" in path
            for s in literals(path):
                if looks_like_expression(s):
                    texts.append((s, cstyle))
    texts += [(s, False) for s in bench_expressions()]
    for n, (text, cstyle) in enumerate(dict.fromkeys(texts)):
        # flags: vocabulary, folding on every other text, MaxExpressions 10
        flags = (1 if cstyle else 0) | (2 if n % 2 else 0)
        write(outdir, "expression", bytes([flags, ord("$"), 0, 0]) + text)
    # list operations, small limits, the stream round trip and the folding comparison
    scripts = [
        (0x04 | 0x20, b"a:=2\nb:=a+1\na*b\n#s\n#d0\na+b"),
        (0x08, b"1\n2\n3\n#p07\n#i1x+1\n#e1\n#d9\n#c\n1+2"),
        (0x10, b"x:=5\nx*2\n#u\nx\n#x0\n#m2\n1\n2\n3"),
        (0x14 | 0x20, b"$ff+1\n1,5\nmax(1,2)\n#s"),
        (0x40, b"a:=2\n2*3+a\nsin(pi/6)\n(1+2i)*(1-2i)\nnot (1<2)\nif(1,2,3)"),
        (0x41, b"a=2\n!a\n7%3\n1 || 0 && 0\nfact(5)\na==2"),
    ]
    for flags, script in scripts:
        write(outdir, "expression", bytes([flags, ord("$"), 0, 0]) + script)
        write(outdir, "expression", bytes([flags, ord("#"), 1, 1]) + script.replace(b".", b","))


def seed_numbertext(outdir):
    values = [(1.5, -2.0), (0.0, 1.0), (1e-7, 2e20), (123456789012345.0, -0.0001),
              (1.7976931348623157e308, 5e-324), (-1.0, -1.0)]
    texts = [s for p in sources("math") if p.endswith("NumberTextTest.cpp") for s in literals(p)]
    for n, text in enumerate(dict.fromkeys(t for t in texts if len(t) <= 120)):
        re_, im = values[n % len(values)]
        sep = 1 if b"," in text and b"." not in text else 0
        write(outdir, "numbertext", bytes([sep, 1]) + struct.pack("<dd", re_, im) + text)
    write(outdir, "numbertext", bytes([0, 1]) + struct.pack("<dd", 1, 2) + b";\n1;2;;3+4i;-i")
    write(outdir, "numbertext", bytes([0, 2]) + struct.pack("<dd", 1, 2) + b"ab\n1abab2ab")
    write(outdir, "numbertext",
          bytes([0, 1]) + struct.pack("<dd", 1234567.891, -2) + b"#,##0.00\n0.0;(0.0);'zero'")


def seed_registryfile(outdir):
    header = b"Windows Registry Editor Version 5.00\n"
    for path in sources("win"):
        if "Registry" not in path:
            continue
        for s in literals(path):
            if b"[HKEY" in s or b"@=" in s or b"dword:" in s:
                text = s if s.startswith(header[:8]) else header + s
                write(outdir, "registryfile", b"\0SOFTWARE=\n" + text)
    write(outdir, "registryfile",
          b"\1SOFTWARE\\Orbanel\\Vesk\\01=Name\n" + header +
          b'\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orbanel\\Vesk\\01]\n'
          b'"Name"="VeskMath"\n"ExecWithoutCompstr"=dword:00000001\n')


def guid(data1=0x12345678, data2=0x9ABC, data3=0xDEF0, data4=b"\x11\x22\x33\x44\x55\x66\x77\x88"):
    return struct.pack("<IHH", data1, data2, data3) + data4


def text(s, null=False):
    if null:
        return b"\0" + struct.pack("<I", 0)
    units = s.encode("utf-16-le")
    return b"\1" + struct.pack("<I", len(units) // 2) + units


def frame(payload):
    return struct.pack("<I", len(payload)) + payload


def seed_conversion(outdir):
    notations = []
    for path in sources("server"):
        if "FuVeskMath" in path:
            notations += [s for s in literals(path) if 0 < len(s) <= 80 and b"\n" not in s]
    histories = [b"", b"a:=2\r\nb:=3\r\n", b"a:=2\r\n1+\r\n", b"x:=1\nx:=x+1\rx"]
    for n, notation in enumerate(dict.fromkeys(notations)):
        history = histories[n % len(histories)]
        write(outdir, "conversion", bytes([4 if n % 3 == 0 else 0]) +
              struct.pack("<H", len(notation)) + notation + history)
    for notation in ["1+2=", "quit", "list", "a:=2"]:
        units = notation.encode("utf-16-le")
        write(outdir, "conversion", b"\1" + struct.pack("<H", len(units)) + units + b"a:=1\r\n")


def main():
    outdir = sys.argv[1]
    seed_expression(outdir)
    seed_numbertext(outdir)
    seed_registryfile(outdir)
    seed_conversion(outdir)


if __name__ == "__main__":
    main()
