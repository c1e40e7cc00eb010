#!/usr/bin/python3
"""Writes text_reference.tsv: formulas of the text functions over texts with accents,
Greek, Cyrillic, CJK and surrogate pairs, with the results Python's string operations
give when a text is taken as its UTF-16 units, for TextFunctionsTest.

Run: /usr/bin/python3 tests/functions/data/make_text_reference.py > tests/functions/data/text_reference.tsv
"""
import re
import sys

# Each text is worked on as a Python string of its UTF-16 units, one character per unit,
# so that lengths, positions and slices count units as Kelp does.
def units(text):
    data = text.encode("utf-16-le")
    return "".join(chr(data[i] | data[i + 1] << 8) for i in range(0, len(data), 2))


def shown(unit_text):
    """The units as UTF-8 text; a surrogate without its partner becomes U+FFFD, as Kelp
    writes it in UTF-8."""
    text = unit_text.encode("utf-16-le", "surrogatepass").decode("utf-16-le", "surrogatepass")
    return "".join("\ufffd" if 0xD800 <= ord(c) <= 0xDFFF else c for c in text)


def literal(unit_text):
    """The text as a formula expression: a surrogate without its partner comes from Char."""
    text = unit_text.encode("utf-16-le", "surrogatepass").decode("utf-16-le", "surrogatepass")
    parts = re.split("([\ud800-\udfff])", text)
    pieces = []
    for i, part in enumerate(parts):
        if i % 2:
            pieces.append(f"Char({ord(part)})")
        elif part or len(parts) == 1:
            pieces.append('"' + part.replace('"', '""') + '"')
    return "&".join(pieces)


# Case mapping one character for one: a letter whose other case takes two characters
# (the German sharp s, upper case) stays as it is.
def upper1(c):
    u = c.upper()
    return u if len(u) == 1 else c


def lower1(c):
    lo = c.lower()
    return lo if len(lo) == 1 else c


WHITE = " \t\n\v\f\r"


def proper(t):
    out, start = [], True
    for c in t:
        if c in WHITE:
            start = True
        elif upper1(c) != c or lower1(c) != c:
            c = upper1(c) if start else lower1(c)
            start = False
        out.append(c)
    return "".join(out)


def trim(t):
    return re.sub(" {2,}", " ", t.strip(WHITE))


def rept(t, n):
    return t * (min(n, 999 // len(t)) if t else 0)


def substitute(t, old, new, nth=None):
    if not old:
        return t
    if nth is None:
        return t.replace(old, new)
    at = -1
    for _ in range(nth):
        at = t.find(old, at + len(old) if at >= 0 else 0)
        if at < 0:
            return t
    return t[:at] + new + t[at + len(old):]


rows = []


def text_row(formula, value):
    rows.append(f"={formula}\tt\t{shown(value)}")


def number_row(formula, value):
    rows.append(f"={formula}\tn\t{value}")


def error_row(formula):
    rows.append(f"={formula}\te\t!!Val")


TEXTS = [
    "café crème brûlée",
    "Ελληνικά γράμματα: Σοφός",
    "Привет, мир! Ёжик и щётка",
    "日本語のテキストと中文",
    "a😀b😀c 𝄞 end",
    "  Straße  und   ÿ Ÿ  ",
    "ıſµ ĳ Ĳ ŉ ĸ",
]
# Every letter of the blocks the case mapping covers (the capital I with a dot left out:
# its small letter takes two characters in Python).
BLOCKS = [
    "".join(chr(c) for c in range(0xC0, 0x180) if c != 0x130),
    "".join(chr(c) for c in range(0x386, 0x3CF) if c not in (0x387, 0x38B, 0x38D, 0x3A2)),
    "".join(chr(c) for c in range(0x400, 0x460)),
]

for text in TEXTS:
    t = units(text)
    s = literal(t)
    n = len(t)
    number_row(f"Len({s})", n)
    text_row(f"Left({s})", t[:1])
    text_row(f"Right({s})", t[-1:])
    for k in sorted({0, 1, 2, 5, n - 1, n, n + 5}):
        text_row(f"Left({s},{k})", t[:k])
        text_row(f"Right({s},{k})", t[n - min(k, n):])
    for start in sorted({1, 2, n // 2, n, n + 1}):
        for count in (0, 1, 3, n):
            text_row(f"Mid({s},{start},{count})", t[start - 1:start - 1 + count])
    for i in sorted({0, 1, n // 3, n // 2, n - 2}):
        needle = t[i:i + 2]
        number_row(f"Find({literal(needle)},{s})", t.find(needle) + 1)
        for start in (1, i + 1, i + 2):
            at = t.find(needle, start - 1)
            if at < 0:
                error_row(f"Find({literal(needle)},{s},{start})")
            else:
                number_row(f"Find({literal(needle)},{s},{start})", at + 1)
        old = t[i]
        text_row(f"Substitute({s},{literal(old)},\"«x»\")", substitute(t, old, "«x»"))
        for nth in (1, 2, 5):
            text_row(f"Substitute({s},{literal(old)},\"Ω\",{nth})", substitute(t, old, "Ω", nth))
    error_row(f"Find(\"zz\",{s})")
    error_row(f"Find({literal(t[:1])},{s},0)")
    error_row(f"Find({literal(t[:1])},{s},{n + 1})")
    for bad in (f"Left({s},-1)", f"Right({s},-1)", f"Mid({s},0,1)", f"Mid({s},1,-1)", f"Rept({s},-1)",
                f"Replace({s},0,1,\"x\")", f"Replace({s},1,-1,\"x\")", f"Substitute({s},\"a\",\"x\",0)"):
        error_row(bad)
    text_row(f"Substitute({s},\"\",\"x\")", t)
    for start in sorted({1, 3, n, n + 1, n + 3}):
        for count in (0, 2, n):
            cut = min(start - 1, n)
            text_row(f"Replace({s},{start},{count},\"Ω-\")", t[:cut] + "Ω-" + t[cut + count:])
    text_row(f"Upper({s})", "".join(upper1(c) for c in t))
    text_row(f"Lower({s})", "".join(lower1(c) for c in t))
    text_row(f"Proper({s})", proper(t))
    text_row(f"Trim({s})", trim(t))
    for k in (0, 1, 3, 50, 1000):
        text_row(f"Rept({s},{k})", rept(t, k))
    rows.append(f"=Exact({s},Upper({s}))\tl\t{'true' if t == ''.join(upper1(c) for c in t) else 'false'}")
    number_row(f"Code({s})", ord(t[0]))

for block in BLOCKS:
    t = units(block)
    s = literal(t)
    text_row(f"Upper({s})", "".join(upper1(c) for c in t))
    text_row(f"Lower({s})", "".join(lower1(c) for c in t))
    text_row(f"Lower(Upper({s}))", "".join(lower1(upper1(c)) for c in t))

print("# Text functions over UTF-16 units: formula, result kind (t text, n number, l logical,")
print("# e error), result; a surrogate without its partner is written U+FFFD. Expected results")
print("# come from Python's string operations on a string of the text's UTF-16 units, case")
print("# mapped one character for one.")
print("# Made by: /usr/bin/python3 tests/functions/data/make_text_reference.py > tests/functions/data/text_reference.tsv")
print(f"# with Python {sys.version.split()[0]}.")
for row in dict.fromkeys(rows):  # each row once, in order
    print(row)
