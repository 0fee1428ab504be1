#!/usr/bin/env python3
"""Writes the seed corpora under corpus/: the known report shapes, OEM texts and registry values,
encoded the way each fuzz target reads its input. Run it again after changing an input layout."""
import pathlib

HERE = pathlib.Path(__file__).resolve().parent / "corpus"

OPEN, SEP, CLOSE = b"<Model_Info><Model>", b"</Model><Serial_Num>", b"</Serial_Num>"
ABC, NUM = b"ABC", b"123"
# Full-width "VURO" and a full-width lower-case "px", and a lead byte before '<' that a byte
# search would take for the start of a marker.
SJIS_VURO = b"\x82\x75\x82\x74\x82\x71\x82\x6e"
SJIS_PX = b"\x82\x90\x82\x98"

REPORTS = {
    "conforming": OPEN + ABC + SEP + NUM + CLOSE,
    "trailing_text": OPEN + ABC + SEP + NUM + CLOSE + b"\r\n",
    "no_serial_section": OPEN + ABC + b"</Model>",
    "broken_separator": OPEN + ABC + b"</Model>\r\n<Serial_Num>" + NUM + CLOSE,
    "no_opening": ABC + SEP + NUM + CLOSE,
    "text_before_opening": b"xy" + OPEN + ABC + SEP + NUM + CLOSE,
    "empty_model": OPEN + SEP + NUM + CLOSE,
    "empty_serial": OPEN + ABC + SEP + CLOSE,
    "no_closing": OPEN + ABC + SEP + NUM,
    "double_opening": OPEN + OPEN + ABC + SEP + NUM + CLOSE,
    "opening_inside_model": OPEN + b"A" + OPEN + b"BC" + SEP + NUM + CLOSE,
    "two_separators": OPEN + ABC + SEP + b"1" + SEP + b"2" + CLOSE,
    "lower_case_markers": OPEN.lower() + ABC + SEP.lower() + NUM + CLOSE.lower(),
    "empty": b"",
    "space_model": OPEN + b" " + SEP + NUM + CLOSE,
    "line_break_in_model": OPEN + ABC + b"\r\n" + SEP + NUM + CLOSE,
    "two_reports": OPEN + ABC + SEP + NUM + CLOSE + OPEN + ABC + SEP + b"456" + CLOSE,
    "zero_byte_inside": OPEN + ABC + SEP + b"\x00" + NUM + CLOSE,
    "double_byte_model": OPEN + SJIS_VURO + SJIS_PX + SEP + NUM + CLOSE,
    "lead_byte_before_marker": b"\x81" + OPEN + ABC + b"\x81" + SEP + NUM + CLOSE,
    "joined_opening": b"<Model_" + OPEN + b"Info><Model>" + ABC + SEP + NUM + CLOSE,
}

OEM_TEXTS = [
    b"VURO PX-1 Handheld",
    b"vuro px-1",
    b"Acme Vuro\xe9 Terminal",
    b"V U R O",
    SJIS_VURO + b" " + SJIS_PX,
    b"\x83\x94\x83\x85\x81\x5b\x83\x8d VURO",
    b"\x82vuro",
]


class Input:
    """Mirrors FuzzedDataProvider: bytes and strings from the front, integers from the back."""

    def __init__(self):
        self.front, self.back = bytearray(), bytearray()

    def integer(self, value, largest):
        """A value in [0, largest], as ConsumeIntegralInRange(0, largest) reads it."""
        count = 0
        while largest >> (8 * count) and count < 8:
            count += 1
        for i in range(count):  # the first byte read is the most significant
            self.back.append((value >> (8 * (count - 1 - i))) & 0xFF)

    def string(self, data):
        """A string as ConsumeRandomLengthString reads it: backslashes doubled, ended by '\\x'."""
        self.front += data.replace(b"\\", b"\\\\") + b"\\x"

    def data(self):
        return bytes(self.front) + bytes(reversed(self.back))


def write(target, name, data):
    folder = HERE / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


def report_seeds():
    for name, report in REPORTS.items():
        write("fuzz_report_parser", name + "_1252", b"\x00" + report)
        write("fuzz_report_parser", name + "_932", b"\x01" + report)
    write("fuzz_report_parser", "conforming_allocation_fails", b"\x30" + REPORTS["conforming"])


# Steps of fuzz_text_ops, in the order of its Step enum.
FIND, REMOVE_ALL, DELETE, MAKE_UPPER, APPEND_TEXT, CONCATENATE, ASSIGN_BYTES, APPEND_BYTES, \
    ASSIGN_PIECE, TRUNCATE, COPY, MOVE, EMPTY = range(13)


def text_program(code_page_byte, steps):
    program = Input()
    for step, a, b, c, extra in steps:
        program.integer(step, EMPTY)
        for register in (a, b, c):
            program.integer(register, 3)
        if step in (ASSIGN_BYTES, APPEND_BYTES):
            program.string(extra)
        elif step == DELETE:
            for offset in extra:  # small offsets as int8 values
                program.integer(4, 7)
                program.integer(offset + 128, 255)
    return bytes([code_page_byte]) + program.data()


def text_seeds():
    for index, oem in enumerate(OEM_TEXTS):
        for code_page_byte in (0, 1, 3):
            steps = [
                (ASSIGN_BYTES, 0, 0, 0, oem),
                (COPY, 1, 0, 0, None),
                (MAKE_UPPER, 1, 0, 0, None),
                (ASSIGN_BYTES, 2, 0, 0, b"VURO"),
                (FIND, 1, 2, 0, None),
                (REMOVE_ALL, 1, 2, 0, None),
                (CONCATENATE, 3, 0, 2, None),
                (DELETE, 3, 0, 0, (1, 2)),
                (APPEND_TEXT, 3, 3, 0, None),
            ]
            write("fuzz_text_ops", "oem_%d_%d" % (index, code_page_byte),
                  text_program(code_page_byte, steps))
    for name, report in REPORTS.items():
        steps = [
            (ASSIGN_BYTES, 0, 0, 0, report),
            (ASSIGN_BYTES, 1, 0, 0, OPEN),
            (REMOVE_ALL, 0, 1, 0, None),
            (ASSIGN_BYTES, 2, 0, 0, SEP),
            (FIND, 0, 2, 0, None),
        ]
        write("fuzz_text_ops", "report_" + name, text_program(1, steps))


REG_SZ, REG_BINARY, REG_DWORD = 1, 3, 4
TYPES = [0, 1, 2, 3, 4, 7]  # the fuzz target's kTypes
VALUE, NO_KEY, NO_VALUE, QUERY_FAILS, ALLOCATION_FAILS = range(5)


def registry_value(setting, type_, code_page, length, pattern):
    value = Input()
    value.integer(setting, ALLOCATION_FAILS)
    value.integer(1, 255)  # one of the common types
    value.integer(TYPES.index(type_), len(TYPES) - 1)
    value.integer(1 if code_page == 932 else 0, 255)
    value.integer(length, 4100)
    value.front += pattern
    return value.data()


def registry_seeds():
    for index, oem in enumerate(OEM_TEXTS):
        code_page = 932 if index >= 4 else 1252
        write("fuzz_registry_read", "oem_%d" % index,
              registry_value(VALUE, REG_SZ, code_page, len(oem) + 1, oem + b"\x00"))
    for length in (0, 4, 2046, 2047, 2048, 2049, 4096, 4100):
        write("fuzz_registry_read", "binary_%d" % length,
              registry_value(VALUE, REG_BINARY, 1252, length, b"VURO"))
        write("fuzz_registry_read", "terminated_%d" % length,
              registry_value(VALUE, REG_SZ, 1252, length, b"V" * max(length - 1, 0) + b"\x00"))
    write("fuzz_registry_read", "dword", registry_value(VALUE, REG_DWORD, 1252, 4, b"\x56\x00\x00\x00"))
    write("fuzz_registry_read", "zero_inside", registry_value(VALUE, REG_SZ, 1252, 12, b"VURO\x00tail\x00"))
    for setting in (NO_KEY, NO_VALUE, QUERY_FAILS, ALLOCATION_FAILS):
        write("fuzz_registry_read", "setting_%d" % setting,
              registry_value(setting, REG_SZ, 1252, 10, b"VURO PX-1\x00"))


if __name__ == "__main__":
    report_seeds()
    text_seeds()
    registry_seeds()
