#!/usr/bin/env python3
"""Checks that tvtuner.sys is an image the 32-bit x86 Windows kernel can load
as a WDM driver and that it imports nothing but the allowed routines."""
import argparse
import sys

import pe_image as pe

ENTRY_SYMBOLS = ("DriverEntry@8", "_DriverEntry@8")
PAGE_SIZE = 0x1000


def read_allowed_imports(text):
    """{image name in lower case: set of routine names}"""
    allowed = {}
    for line in text.splitlines():
        line = line.split("#", 1)[0].strip()
        if line:
            image, routine = line.split()
            allowed.setdefault(image.lower(), set()).add(routine)
    return allowed


def check(data, map_text, allowed):
    """The failed checks as (name, explanation) pairs; empty when the image passes."""
    failures = []

    def expect(name, condition, explanation):
        if not condition:
            failures.append((name, explanation))

    try:
        image = pe.Image(data)
    except (pe.ImageError, IndexError, ValueError) as error:
        return [("format", str(error))]
    expect("machine", image.machine == pe.IMAGE_FILE_MACHINE_I386, f"machine {image.machine:#06x}, not i386")
    if image.magic != pe.PE32_MAGIC:
        return failures + [("pe32", f"optional header magic {image.magic:#06x}, not PE32")]
    expect("subsystem", image.subsystem == pe.IMAGE_SUBSYSTEM_NATIVE, f"subsystem {image.subsystem}, not native")
    expect("wdm", image.dll_characteristics & pe.IMAGE_DLLCHARACTERISTICS_WDM_DRIVER,
           "the WDM driver flag is not set")

    reloc_rva, reloc_size = image.directory(pe.DIRECTORY_BASERELOC)
    reloc_section = image.section_of(reloc_rva) if reloc_size else None
    expect("relocations",
           not image.characteristics & pe.IMAGE_FILE_RELOCS_STRIPPED
           and reloc_section is not None and reloc_section.name == ".reloc"
           and image.relocation_blocks() > 0,
           "no base relocations in a .reloc section (the kernel always relocates a driver)")

    entry = pe.map_symbol(map_text, ENTRY_SYMBOLS[0])
    if entry is None:
        entry = pe.map_symbol(map_text, ENTRY_SYMBOLS[1])
    expect("entry", entry is not None and image.entry_point == entry - image.image_base,
           f"entry point {image.entry_point:#x} is not DriverEntry"
           + (f" ({entry - image.image_base:#x})" if entry is not None else " (not in the map)"))

    try:
        imports = image.imports()
    except (pe.ImageError, IndexError, ValueError) as error:
        imports = []
        failures.append(("imports", f"unreadable import table: {error}"))
    for image_name, routines in imports:
        allowed_here = allowed.get(image_name.lower())
        if allowed_here is None:
            failures.append(("imports", f"imports from {image_name}"))
            continue
        for routine in routines:
            expect("imports", routine in allowed_here, f"{image_name} {routine} is not an allowed import")

    for section in image.sections:
        both = pe.IMAGE_SCN_MEM_WRITE | pe.IMAGE_SCN_MEM_EXECUTE
        expect("wx", section.characteristics & both != both, f"section {section.name} is writable and executable")
    # Sections smaller than a page share pages, which then get the union of
    # their protections.
    expect("alignment", image.section_alignment % PAGE_SIZE == 0,
           f"section alignment {image.section_alignment:#x} is below the page size")

    expect("checksum", pe.checksum_is_valid(image),
           f"checksum {image.checksum:#010x} is not the image's")
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("image", help="tvtuner.sys")
    parser.add_argument("map", help="the linker's map of it")
    parser.add_argument("allowed_imports", help="allowed-imports.txt")
    args = parser.parse_args()
    with open(args.image, "rb") as f:
        data = f.read()
    with open(args.map, encoding="utf-8", errors="replace") as f:
        map_text = f.read()
    with open(args.allowed_imports, encoding="utf-8") as f:
        allowed = read_allowed_imports(f.read())
    failures = check(data, map_text, allowed)
    for name, explanation in failures:
        print(f"{args.image}: {name}: {explanation}", file=sys.stderr)
    if not failures:
        print(f"{args.image}: PE32 i386 native WDM driver, relocatable, entry DriverEntry, "
              "allowed imports only, no writable code, valid checksum")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
