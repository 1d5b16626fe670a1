"""Reads the headers of a 32-bit PE image (and the linker's map) for the
checks of tvtuner.sys; computes and writes the PE checksum."""
import re
import struct

IMAGE_FILE_MACHINE_I386 = 0x014C
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
PE32_MAGIC = 0x010B
IMAGE_SUBSYSTEM_NATIVE = 1
IMAGE_DLLCHARACTERISTICS_WDM_DRIVER = 0x2000
IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_WRITE = 0x80000000
DIRECTORY_IMPORT = 1
DIRECTORY_BASERELOC = 5

# Offset of CheckSum inside the optional header (PE32 and PE32+).
CHECKSUM_OFFSET = 64


class ImageError(Exception):
    pass


class Section:
    def __init__(self, name, virtual_size, virtual_address, raw_size, raw_pointer, characteristics):
        self.name = name
        self.virtual_size = virtual_size
        self.virtual_address = virtual_address
        self.raw_size = raw_size
        self.raw_pointer = raw_pointer
        self.characteristics = characteristics

    def contains(self, rva):
        return self.virtual_address <= rva < self.virtual_address + max(self.virtual_size, self.raw_size)


class Image:
    def __init__(self, data):
        self.data = bytes(data)
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise ImageError("no MZ header")
        self.pe_offset = self._u32(0x3C)
        if data[self.pe_offset:self.pe_offset + 4] != b"PE\0\0":
            raise ImageError("no PE signature")
        coff = self.pe_offset + 4
        (self.machine, section_count, _, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, coff)
        self.optional_offset = coff + 20
        self.magic = self._u16(self.optional_offset)
        if self.magic != PE32_MAGIC:
            return  # the checks report it; the rest of the layout differs
        o = self.optional_offset
        self.entry_point = self._u32(o + 16)
        self.image_base = self._u32(o + 28)
        self.section_alignment = self._u32(o + 32)
        self.file_alignment = self._u32(o + 36)
        self.checksum = self._u32(o + CHECKSUM_OFFSET)
        self.subsystem = self._u16(o + 68)
        self.dll_characteristics = self._u16(o + 70)
        directory_count = self._u32(o + 92)
        self.directories = [struct.unpack_from("<II", data, o + 96 + 8 * i) for i in range(directory_count)]
        self.sections = []
        table = o + optional_size
        for i in range(section_count):
            fields = struct.unpack_from("<8sIIIIIIHHI", data, table + 40 * i)
            name = fields[0].rstrip(b"\0").decode("ascii", "replace")
            self.sections.append(Section(name, fields[1], fields[2], fields[3], fields[4], fields[9]))

    def _u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def _u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def section_of(self, rva):
        for section in self.sections:
            if section.contains(rva):
                return section
        return None

    def file_offset(self, rva):
        section = self.section_of(rva)
        if section is None or rva - section.virtual_address >= section.raw_size:
            raise ImageError(f"RVA {rva:#x} is not backed by the file")
        return section.raw_pointer + rva - section.virtual_address

    def c_string(self, rva):
        start = self.file_offset(rva)
        end = self.data.index(b"\0", start)
        return self.data[start:end].decode("ascii", "replace")

    def imports(self):
        """[(image name, [routine name or '#ordinal', ...]), ...]"""
        rva, size = self.directory(DIRECTORY_IMPORT)
        result = []
        if size == 0:
            return result
        offset = self.file_offset(rva)
        while True:
            lookup, _, _, name_rva, address_table = struct.unpack_from("<IIIII", self.data, offset)
            if name_rva == 0:
                return result
            names = []
            thunk = self.file_offset(lookup or address_table)
            while True:
                entry = self._u32(thunk)
                if entry == 0:
                    break
                if entry & 0x80000000:
                    names.append(f"#{entry & 0xFFFF}")
                else:
                    names.append(self.c_string(entry + 2))  # after the 2-byte hint
                thunk += 4
            result.append((self.c_string(name_rva), names))
            offset += 20

    def relocation_blocks(self):
        """Number of base relocation entries the image carries."""
        rva, size = self.directory(DIRECTORY_BASERELOC)
        if size == 0:
            return 0
        offset, end, count = self.file_offset(rva), self.file_offset(rva) + size, 0
        while offset + 8 <= end:
            block_size = self._u32(offset + 4)
            if block_size < 8:
                break
            count += (block_size - 8) // 2
            offset += block_size
        return count


def checksum(data, checksum_field):
    """The PE image checksum: 16-bit one's-complement-style sum of the file
    with the CheckSum field taken as zero, plus the file length."""
    padded = bytes(data) + (b"\0" if len(data) % 2 else b"")
    padded = padded[:checksum_field] + b"\0\0\0\0" + padded[checksum_field + 4:]
    total = 0
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def write_checksum(data):
    image = Image(data)
    # The field sits at the same place in PE32 and PE32+ headers.
    field = image.optional_offset + CHECKSUM_OFFSET
    struct.pack_into("<I", data, field, checksum(data, field))


def checksum_is_valid(image):
    field = image.optional_offset + CHECKSUM_OFFSET
    return image.checksum != 0 and image.checksum == checksum(image.data, field)


_MAP_SYMBOL = re.compile(r"^\s+0x([0-9a-fA-F]+)\s+(\S+)\s*$")
_MAP_INPUT_SECTION = re.compile(r"^\s(\.\S+)\s+0x([0-9a-fA-F]+)\s+0x([0-9a-fA-F]+)\s+(\S.*)$")
_CONSTRUCTOR_SECTION = re.compile(r"^\.(ctors?|dtors?|init_array|fini_array)(\..*)?$")


def map_symbol(map_text, name):
    """Address of a symbol in a GNU ld map, or None."""
    for line in map_text.splitlines():
        match = _MAP_SYMBOL.match(line)
        if match and match.group(2) == name:
            return int(match.group(1), 16)
    return None


def constructor_sections(map_text):
    """Non-empty constructor/destructor table contributions in a GNU ld map,
    as 'section size file' lines."""
    found = []
    lines = map_text.splitlines()
    for i, line in enumerate(lines):
        # A long input-section name puts address, size and file on the next line.
        if re.match(r"^\s\.\S+\s*$", line) and i + 1 < len(lines):
            line = line.rstrip() + " " + lines[i + 1].strip()
        match = _MAP_INPUT_SECTION.match(line)
        if match and _CONSTRUCTOR_SECTION.match(match.group(1)) and int(match.group(3), 16) != 0:
            found.append(f"{match.group(1)} {int(match.group(3), 16)} bytes from {match.group(4)}")
    return found
