#!/usr/bin/env python3
"""Writes a cp932 copy of a UTF-8 text table for the Windows build.

Every byte of a non-ASCII character is written as a three-digit octal
escape. cp932 uses 0x5C (the backslash) as the second byte of some characters
(ソ, 予, 表, ...), which a C++ compiler would otherwise read as the start of an
escape sequence; octal escapes are never longer than three digits, so no
following character can be swallowed either. ASCII stays as it is, so the
table's own escapes such as \n keep their meaning.
Usage: cp932_literals.py INPUT OUTPUT
"""
import sys

src, dst = sys.argv[1], sys.argv[2]
with open(src, encoding="utf-8") as f:
    text = f.read()
out = []
for ch in text:
    if ord(ch) < 0x80:
        out.append(ch)
    else:
        out.extend("\\%03o" % byte for byte in ch.encode("cp932"))
with open(dst, "w", encoding="ascii", newline="") as f:
    f.write("".join(out))
