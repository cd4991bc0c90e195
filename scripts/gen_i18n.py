#!/usr/bin/env python3
"""Builds src/i18n_data.h, the constant translation catalogue, from data/i18n.

Inputs: data/i18n/keys.txt (one English key a line, byte-sorted) and one
data/i18n/<code>.tsv per language ("key<TAB>value" lines in the order of
keys.txt; a line break inside a text is written as the two characters \\n).
English comes from keys.txt itself.

Every language must be present and aligned with the keys: same keys in the
same order, every value non-empty, the same "%s" placeholders, exactly one
"&" where the key has one and none where it has none. Any mismatch stops the
script with a message naming the file and line, and nothing is written.

Usage: scripts/gen_i18n.py [--check]   (--check: verify only, write nothing;
exit status 1 when the committed header is stale)
"""

import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "data", "i18n")
OUT = os.path.join(ROOT, "src", "i18n_data.h")
KEY_COUNT = 183

# (code, native name, right-to-left); the order is the language menu's and the
# stored index's, so it must never be re-sorted.
LANGS = [
    ("ar", "العربية", True),
    ("cs", "Čeština", False),
    ("da", "Dansk", False),
    ("de", "Deutsch", False),
    ("el", "Ελληνικά", False),
    ("en", "English", False),
    ("es", "Español", False),
    ("fi", "Suomi", False),
    ("fr", "Français", False),
    ("he", "עברית", True),
    ("hu", "Magyar", False),
    ("it", "Italiano", False),
    ("ja", "日本語", False),
    ("ko", "한국어", False),
    ("nl", "Nederlands", False),
    ("pl", "Polski", False),
    ("pt", "Português", False),
    ("ro", "Română", False),
    ("ru", "Русский", False),
    ("sv", "Svenska", False),
    ("tr", "Türkçe", False),
    ("zh", "中文", False),
]

# Languages that keep their own word unmarked and append "(&X)".
PAREN_MNEMONIC = {"ar", "he", "ja", "ko", "zh"}

# Any printf conversion, so a stray "%d" or positional "%1$s" is caught too.
CONVERSION = re.compile(r"%(?:%|[0-9$#+\- .lhjzt]*[a-zA-Z])")

errors = []


def fail(where, message):
    errors.append(f"{where}: {message}")


def decode(text):
    # The only escape in the data files is \n for a line break.
    return text.replace("\\n", "\n")


def conversions(text):
    return [c for c in CONVERSION.findall(text) if c != "%%"]


def read_lines(path):
    with open(path, "rb") as f:
        raw = f.read()
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        fail(path, f"not UTF-8 ({e})")
        return []
    if "\r" in text:
        fail(path, "carriage return found (use Unix line ends)")
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return lines


def check_mnemonic(where, code, key, value):
    want = key.count("&")
    have = value.count("&")
    if have != want:
        fail(where, f"{have} '&' in {value!r}, key {key!r} has {want}")
        return
    if want == 0:
        return
    pos = value.index("&")
    if pos + 1 >= len(value):
        fail(where, f"'&' at the end of {value!r}")
        return
    letter = value[pos + 1]
    if code in PAREN_MNEMONIC:
        english = key[key.index("&") + 1].upper()
        if not value.endswith(f"(&{english})"):
            fail(where, f"{value!r} should end with '(&{english})'")
    elif not letter.isalpha():
        fail(where, f"mnemonic of {value!r} is not on a letter")


def load_keys():
    path = os.path.join(DATA, "keys.txt")
    if not os.path.exists(path):
        fail(path, "missing")
        return []
    keys = [decode(k) for k in read_lines(path)]
    if len(keys) != KEY_COUNT:
        fail(path, f"{len(keys)} keys, expected {KEY_COUNT}")
    for i, k in enumerate(keys):
        if not k:
            fail(f"{path}:{i + 1}", "empty key")
        if "\t" in k:
            fail(f"{path}:{i + 1}", "tab inside a key")
    encoded = [k.encode("utf-8") for k in keys]
    for i in range(1, len(encoded)):
        if not encoded[i - 1] < encoded[i]:
            fail(f"{path}:{i + 1}", f"keys not in ascending byte order: {keys[i - 1]!r}, {keys[i]!r}")
    return keys


def load_language(code, keys):
    path = os.path.join(DATA, f"{code}.tsv")
    if not os.path.exists(path):
        fail(path, f"missing: every language needs its file (language {code})")
        return None
    lines = read_lines(path)
    if len(lines) != len(keys):
        fail(path, f"{len(lines)} lines, expected {len(keys)}")
    values = []
    for i, line in enumerate(lines):
        where = f"{path}:{i + 1}"
        parts = line.split("\t")
        if len(parts) != 2:
            fail(where, f"expected 'key<TAB>value', found {len(parts) - 1} tabs")
            values.append("")
            continue
        key, value = decode(parts[0]), decode(parts[1])
        if i < len(keys) and key != keys[i]:
            fail(where, f"key {key!r} where keys.txt has {keys[i]!r}")
        if not value.strip():
            fail(where, f"empty translation of {key!r}")
        if value != value.strip(" "):
            fail(where, f"leading or trailing space in {value!r}")
        if conversions(value) != conversions(key):
            fail(where, f"placeholders {conversions(value)} differ from the key's {conversions(key)}")
        check_mnemonic(where, code, key, value)
        values.append(value)
    return values


def c_string(text):
    out = ['"']
    for ch in text:
        if ch == "\\":
            out.append("\\\\")
        elif ch == '"':
            out.append('\\"')
        elif ch == "\n":
            out.append("\\n")
        elif ord(ch) < 0x20:
            fail("output", f"control character {ord(ch):#x} in {text!r}")
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


def comment(text):
    # Shown in a line comment: no line break, and no trailing backslash that
    # would splice the next line into the comment.
    shown = text.replace("\n", "\\n")
    if shown.endswith("\\"):
        shown += " "
    return shown


def render(keys, table):
    out = []
    w = out.append
    w("// generated by scripts/gen_i18n.py; edit data/i18n/*.tsv and run the script.")
    w("//")
    w("// The constant translation catalogue: the English keys in ascending byte")
    w("// order (I18n::tr binary-searches them with strcmp) and, per language, the")
    w("// translations at the same indices. Read-only, never freed, safe to read")
    w("// from any thread.")
    w("// clang-format off")
    w("#pragma once")
    w("")
    w("#include <cstddef>")
    w("")
    w("namespace i18n_data {")
    w("")
    w(f"inline constexpr std::size_t KEY_COUNT = {len(keys)};")
    w(f"inline constexpr std::size_t LANG_COUNT = {len(LANGS)};")
    w("")
    w("inline constexpr const char* KEYS[KEY_COUNT] = {")
    for i, k in enumerate(keys):
        w(f"    /* {i:3d} */ {c_string(k)},")
    w("};")
    for code, _, _ in LANGS:
        w("")
        w(f"inline constexpr const char* VALUES_{code}[KEY_COUNT] = {{")
        for i, (k, v) in enumerate(zip(keys, table[code])):
            w(f"    // {i:3d} {comment(k)}")
            w(f"    {c_string(v)},")
        w("};")
    w("")
    w("struct LangEntry {")
    w("    const char* code;")
    w("    const char* native_name;")
    w("    bool rtl;")
    w("    const char* const* values;")
    w("};")
    w("")
    w("inline constexpr LangEntry LANGS[LANG_COUNT] = {")
    for i, (code, native, rtl) in enumerate(LANGS):
        w(f"    /* {i:2d} */ {{{c_string(code)}, {c_string(native)}, {'true' if rtl else 'false'}, VALUES_{code}}},")
    w("};")
    w("")
    w("} // namespace i18n_data")
    w("// clang-format on")
    return "\n".join(out) + "\n"


def main():
    check_only = "--check" in sys.argv[1:]
    keys = load_keys()
    table = {}
    for code, _, _ in LANGS:
        if code == "en":
            table[code] = list(keys)
            continue
        values = load_language(code, keys)
        if values is not None:
            table[code] = values
    extra = sorted(
        f[:-4] for f in os.listdir(DATA) if f.endswith(".tsv") and f[:-4] not in table and f[:-4] not in {c for c, _, _ in LANGS}
    )
    for code in extra:
        fail(os.path.join(DATA, f"{code}.tsv"), "a language not in the language table")
    text = render(keys, table) if not errors else ""
    if errors:
        for e in errors:
            print(f"gen_i18n: {e}", file=sys.stderr)
        print(f"gen_i18n: {len(errors)} problem(s); {OUT} not written", file=sys.stderr)
        return 1
    if check_only:
        try:
            with open(OUT, encoding="utf-8") as f:
                current = f.read()
        except OSError:
            current = None
        if current != text:
            print(f"gen_i18n: {OUT} is out of date; run scripts/gen_i18n.py", file=sys.stderr)
            return 1
        print("gen_i18n: catalogue and data agree")
        return 0
    with open(OUT + ".tmp", "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(OUT + ".tmp", OUT)
    print(f"gen_i18n: wrote {OUT} ({len(keys)} keys x {len(LANGS)} languages)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
