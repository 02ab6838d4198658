#!/usr/bin/env python3
"""Checks the resources of a Windows executable without running it: the
language-neutral dialog template DLGCONVTEMPL must hold exactly the bytes of
the status dialog's design (standard template form), and icon group 1 must
exist. Usage: pe_resources.py EXE. Exit 0 when both hold, 1 otherwise."""
import struct
import sys

RT_DIALOG, RT_GROUP_ICON = 5, 14
WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_BORDER, WS_SYSMENU = 0x00C00000, 0x00800000, 0x00080000
WS_GROUP, WS_TABSTOP = 0x00020000, 0x00010000
DS_MODALFRAME, DS_SETFONT = 0x80, 0x40
SS_LEFT, SS_CENTER, SS_RIGHT, SS_WHITERECT = 0, 1, 2, 6
ES_AUTOHSCROLL = 0x80
EDIT, STATIC = 0x0081, 0x0082
CHILD = WS_CHILD | WS_VISIBLE
GROUP = CHILD | WS_GROUP

# id, class, style, x, y, width, height, text: in template order.
CONTROLS = [
    (100, STATIC, GROUP | SS_CENTER, 6, 2, 182, 12, ""),
    (101, EDIT, CHILD | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 63, 18, 125, 13, ""),
    (65535, STATIC, GROUP | SS_WHITERECT | WS_BORDER, 5, 36, 184, 80, ""),
    (102, STATIC, GROUP | SS_LEFT, 8, 40, 178, 12, ""),
    (65535, STATIC, GROUP | SS_LEFT, 0, 120, 73, 12, " <Enter> - OK"),
    (65535, STATIC, GROUP | SS_RIGHT, 121, 120, 73, 12, "Press <ESC> to abort "),
    (107, STATIC, GROUP | SS_RIGHT, 6, 20, 54, 12, ""),
    (103, STATIC, GROUP | SS_LEFT, 8, 55, 178, 12, ""),
    (104, STATIC, GROUP | SS_LEFT, 8, 70, 178, 12, ""),
    (105, STATIC, GROUP | SS_LEFT, 8, 85, 178, 12, ""),
    (106, STATIC, GROUP | SS_LEFT, 8, 100, 178, 12, ""),
]


def text16(text):
    return text.encode("utf-16-le") + b"\0\0"


def expected_template():
    """The standard dialog template, built field by field."""
    out = bytearray()
    style = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT
    out += struct.pack("<IIHhhhh", style, 0, len(CONTROLS), 13, 67, 194, 132)
    out += b"\0\0" + b"\0\0"  # no menu, the system's dialog class
    out += text16("Convertor Velmor =>Trevalo")
    out += struct.pack("<H", 8) + text16("MS Sans Serif")
    for ident, klass, style, x, y, cx, cy, text in CONTROLS:
        out += b"\0" * (-len(out) % 4)  # every control starts on a 4-byte boundary
        out += struct.pack("<IIhhhhH", style, 0, x, y, cx, cy, ident)
        out += struct.pack("<HH", 0xFFFF, klass) + text16(text) + b"\0\0"
    return bytes(out)


class Image:
    """A PE file's sections and its resource directory."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("not an executable (no MZ signature)")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + {0x10B: 96, 0x20B: 112}[magic]
        self.resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            size, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((rva, max(size, raw_size), raw))
        if not self.resource_rva:
            raise ValueError("no resource directory")
        self.base = self.offset(self.resource_rva)

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("address %#x lies in no section" % rva)

    def entries(self, directory_offset):
        """(name or id, is_directory, offset in the resource section) of a directory."""
        at = self.base + directory_offset
        named, ids = struct.unpack_from("<HH", self.data, at + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
            if name & 0x80000000:
                string = self.base + (name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", self.data, string)[0]
                name = self.data[string + 2:string + 2 + 2 * length].decode("utf-16-le")
            yield name, bool(target & 0x80000000), target & 0x7FFFFFFF

    def find(self, type_id, name):
        """{language: bytes} of one resource."""
        for type_name, _, types in self.entries(0):
            if type_name != type_id:
                continue
            for resource_name, _, languages in self.entries(types):
                if resource_name != name:
                    continue
                found = {}
                for language, _, leaf in self.entries(languages):
                    rva, size = struct.unpack_from("<II", self.data, self.base + leaf)
                    start = self.offset(rva)
                    found[language] = self.data[start:start + size]
                return found
        return {}


def main(path):
    with open(path, "rb") as f:
        image = Image(f.read())
    problems = []
    dialogs = image.find(RT_DIALOG, "DLGCONVTEMPL")
    if list(dialogs) != [0]:
        problems.append("DLGCONVTEMPL: languages %s, expected only the neutral one (0)" % sorted(dialogs))
    elif dialogs[0] != expected_template():
        actual, expected = dialogs[0], expected_template()
        first = next((i for i in range(min(len(actual), len(expected))) if actual[i] != expected[i]),
                     min(len(actual), len(expected)))
        problems.append("DLGCONVTEMPL: %d bytes, expected %d; first difference at byte %d"
                        % (len(actual), len(expected), first))
    if not image.find(RT_GROUP_ICON, 1):
        problems.append("no application icon (icon group 1)")
    for problem in problems:
        print("FAIL: %s: %s" % (path, problem))
    if not problems:
        print("ok: %s: DLGCONVTEMPL holds the designed %d bytes, icon group 1 present"
              % (path, len(expected_template())))
    return 1 if problems else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: pe_resources.py EXE")
    try:
        sys.exit(main(sys.argv[1]))
    except (OSError, ValueError, KeyError, struct.error) as error:
        sys.exit("FAIL: %s: %s" % (sys.argv[1], error))
