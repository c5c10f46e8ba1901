#!/usr/bin/env python3
"""Prints a dialog template stored in a Windows binary's resources, one line per field.

    pe_dialog.py IMAGE DIALOG_ID

Reads the PE resource tree itself (no Windows tools needed): type RT_DIALOG, the given
numeric name, every language stored under it. Exit status 1 when the image has no such
dialog or its bytes do not parse.
"""
import struct
import sys

RT_DIALOG = 5
DS_SETFONT = 0x40
DS_SHELLFONT = 0x48
# Atoms that stand for the predefined window classes in a template.
CLASS_ATOMS = {0x80: "BUTTON", 0x81: "EDIT", 0x82: "STATIC", 0x83: "LISTBOX", 0x84: "SCROLLBAR", 0x85: "COMBOBOX"}


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("not an MZ image")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + {0x10B: 96, 0x20B: 112}[magic]
        self.resource_rva, self.resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("RVA 0x%x lies in no section" % rva)

    def resource_entries(self, directory):
        """(id or name, is_directory, offset within the resource section) of one directory."""
        base = self.offset(self.resource_rva)
        named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
        out = []
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
            key = name if not name & 0x80000000 else self.resource_name(name & 0x7FFFFFFF)
            out.append((key, bool(target & 0x80000000), target & 0x7FFFFFFF))
        return out

    def resource_name(self, offset):
        base = self.offset(self.resource_rva)
        length = struct.unpack_from("<H", self.data, base + offset)[0]
        return self.data[base + offset + 2:base + offset + 2 + 2 * length].decode("utf-16-le")

    def resource(self, type_id, name_id):
        """{language: bytes} of one resource."""
        if not self.resource_rva:
            return {}
        base = self.offset(self.resource_rva)
        found = {}
        for key, is_dir, target in self.resource_entries(0):
            if key != type_id or not is_dir:
                continue
            for name, name_is_dir, languages in self.resource_entries(target):
                if name != name_id or not name_is_dir:
                    continue
                for language, _, leaf in self.resource_entries(languages):
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    found[language] = self.data[self.offset(rva):self.offset(rva) + size]
        return found


class Reader:
    def __init__(self, data):
        self.data = data
        self.pos = 0

    def unpack(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.pos)
        self.pos += struct.calcsize("<" + fmt)
        return values

    def text(self):
        end = self.pos
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        s = self.data[self.pos:end].decode("utf-16-le")
        self.pos = end + 2
        return s

    def text_or_ordinal(self, atoms=None):
        if self.data[self.pos:self.pos + 2] == b"\xff\xff":
            ordinal = self.unpack("2xH")[0]
            return (atoms or {}).get(ordinal, "#0x%04X" % ordinal)
        return '"%s"' % self.text()

    def align(self):
        self.pos = (self.pos + 3) & ~3


def describe(template):
    r = Reader(template)
    version, signature = r.unpack("HH")
    if (version, signature) != (1, 0xFFFF):
        raise ValueError("not an extended dialog template")
    help_id, ex_style, style, count, x, y, cx, cy = r.unpack("IIIHhhhh")
    lines = ["style 0x%08X exstyle 0x%08X help %d" % (style, ex_style, help_id),
             "rect %d,%d,%d,%d" % (x, y, cx, cy),
             "menu %s" % r.text_or_ordinal(), "class %s" % r.text_or_ordinal(),
             'title "%s"' % r.text()]
    if style & DS_SETFONT or style & DS_SHELLFONT == DS_SHELLFONT:
        points, weight, italic, charset = r.unpack("HHBB")
        lines.append('font %d "%s" weight %d italic %d charset %d' % (points, r.text(), weight, italic, charset))
    lines.append("controls %d" % count)
    for _ in range(count):
        r.align()
        help_id, ex_style, style, x, y, cx, cy, control_id = r.unpack("IIIhhhhI")
        window_class = r.text_or_ordinal(CLASS_ATOMS)
        title = r.text_or_ordinal()
        extra = r.unpack("H")[0]
        r.pos += extra
        lines.append("control %d %s 0x%08X exstyle 0x%08X help %d rect %d,%d,%d,%d extra %d text %s" % (
            control_id, window_class, style, ex_style, help_id, x, y, cx, cy, extra, title))
    return lines


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: pe_dialog.py IMAGE DIALOG_ID")
    with open(sys.argv[1], "rb") as f:
        image = Image(f.read())
    found = image.resource(RT_DIALOG, int(sys.argv[2]))
    if not found:
        sys.exit("%s: no dialog %s" % (sys.argv[1], sys.argv[2]))
    for language in sorted(found, key=str):
        print("language 0x%04X" % language)
        for line in describe(found[language]):
            print(line)


if __name__ == "__main__":
    main()
