#!/usr/bin/env python3
"""Each image check must fail on the fault it is there for: a copy of the
built tvtuner.sys with one fault (and a correct checksum, unless the checksum
is the fault) fails that check and no other."""
import struct
import sys
import unittest

import check_image
import pe_image as pe

IMAGE = MAP = ALLOWED = None


def patch(data, offset, fmt, *values):
    struct.pack_into(fmt, data, offset, *values)


def section_header(image, name):
    table = image.optional_offset + struct.unpack_from("<H", image.data, image.pe_offset + 20)[0]
    for i, section in enumerate(image.sections):
        if section.name == name:
            return table + 40 * i
    raise AssertionError(f"no {name} section")


def replace_once(data, old, new):
    assert len(old) == len(new)
    at = data.index(old)
    data[at:at + len(old)] = new


def other_machine(data, image):
    patch(data, image.pe_offset + 4, "<H", 0x8664)


def pe32_plus(data, image):
    patch(data, image.optional_offset, "<H", 0x020B)


def gui_subsystem(data, image):
    patch(data, image.optional_offset + 68, "<H", 2)


def no_wdm_flag(data, image):
    patch(data, image.optional_offset + 70, "<H",
          image.dll_characteristics & ~pe.IMAGE_DLLCHARACTERISTICS_WDM_DRIVER)


def relocations_stripped(data, image):
    patch(data, image.optional_offset + 96 + 8 * pe.DIRECTORY_BASERELOC, "<II", 0, 0)
    patch(data, image.pe_offset + 22, "<H", image.characteristics | pe.IMAGE_FILE_RELOCS_STRIPPED)


def entry_elsewhere(data, image):
    patch(data, image.optional_offset + 16, "<I", image.entry_point + 4)


def writable_code(data, image):
    header = section_header(image, ".text")
    patch(data, header + 36, "<I", image.sections[0].characteristics | pe.IMAGE_SCN_MEM_WRITE)


def small_sections(data, image):
    patch(data, image.optional_offset + 32, "<I", 0x80)


def foreign_routine(data, image):
    replace_once(data, b"StreamClassRegisterAdapter\0", b"StreamClassRegisterAdaptor\0")


def decorated_routine(data, image):
    replace_once(data, b"StreamClassRegisterAdapter\0", b"StreamClassRegisterAdapte@\0")


def foreign_image(data, image):
    replace_once(data, b"STREAM.SYS\0", b"STREAM.DLL\0")


class ImageChecks(unittest.TestCase):
    def failed_checks(self, fault, fix_checksum=True):
        data = bytearray(IMAGE)
        fault(data, pe.Image(IMAGE))
        if fix_checksum:
            pe.write_checksum(data)
        return {name for name, _ in check_image.check(bytes(data), MAP, ALLOWED)}

    def test_the_built_image_passes(self):
        self.assertEqual(check_image.check(IMAGE, MAP, ALLOWED), [])

    def test_each_fault_fails_its_check_only(self):
        cases = [
            (other_machine, {"machine"}),
            (pe32_plus, {"pe32"}),
            (gui_subsystem, {"subsystem"}),
            (no_wdm_flag, {"wdm"}),
            (relocations_stripped, {"relocations"}),
            (entry_elsewhere, {"entry"}),
            (writable_code, {"wx"}),
            (small_sections, {"alignment"}),
            (foreign_routine, {"imports"}),
            (decorated_routine, {"imports"}),
            (foreign_image, {"imports"}),
        ]
        for fault, expected in cases:
            with self.subTest(fault.__name__):
                self.assertEqual(self.failed_checks(fault), expected)

    def test_a_changed_byte_breaks_the_checksum(self):
        def flip_code_byte(data, image):
            data[image.sections[0].raw_pointer] ^= 0x01
        self.assertEqual(self.failed_checks(flip_code_byte, fix_checksum=False), {"checksum"})

    def test_entry_missing_from_the_map_fails(self):
        self.assertEqual({n for n, _ in check_image.check(IMAGE, "", ALLOWED)}, {"entry"})


class ConstructorTables(unittest.TestCase):
    EMPTY_LISTS = """
                0x00011058                        ___CTOR_LIST__ = .
                0x00011058        0x4 LONG 0xffffffffffffffff
 *(.ctors)
 *(.ctor)
 *(SORT_BY_NAME(.ctors.*))
                0x0001105c        0x4 LONG 0x0
"""
    CONSTRUCTORS = """
 *(.ctors)
 .ctors         0x000110d4        0x4 tuner/Catalogue.cpp.obj
 *(SORT_BY_NAME(.ctors.*))
 .ctors.65335   0x000110d8        0x4 driver/Entry.cpp.obj
 .init_array.00100
                0x000110dc        0x4 config/Registry.cpp.obj
 .ctors         0x000110e0        0x0 tuner/Empty.cpp.obj
"""

    def test_empty_lists_pass(self):
        self.assertEqual(pe.constructor_sections(self.EMPTY_LISTS), [])

    def test_every_contribution_is_reported(self):
        found = pe.constructor_sections(self.CONSTRUCTORS)
        self.assertEqual(len(found), 3)
        self.assertTrue(all(name in " ".join(found) for name in ("Catalogue", "Entry", "Registry")))


if __name__ == "__main__":
    image_path, map_path, allowed_path = sys.argv[1:4]
    with open(image_path, "rb") as f:
        IMAGE = f.read()
    with open(map_path, encoding="utf-8", errors="replace") as f:
        MAP = f.read()
    with open(allowed_path, encoding="utf-8") as f:
        ALLOWED = check_image.read_allowed_imports(f.read())
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=1)
