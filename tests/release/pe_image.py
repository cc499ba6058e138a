"""The parts of a PE image's headers that tell how it is hardened."""
import struct
from dataclasses import dataclass

IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA = 0x0020
IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x0100
IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_WRITE = 0x80000000
BASE_RELOCATION_DIRECTORY = 5


@dataclass
class Section:
    name: str
    characteristics: int


@dataclass
class PeImage:
    machine: int
    time_date_stamp: int
    characteristics: int
    image_base: int
    dll_characteristics: int
    base_relocation_size: int
    sections: list


def read_pe_image(data):
    (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
    if data[:2] != b"MZ" or data[pe_offset:pe_offset + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    coff = pe_offset + 4
    machine, section_count, stamp, _, _, optional_size, characteristics = struct.unpack_from("<HHIIIHH", data, coff)
    optional = coff + 20
    (magic,) = struct.unpack_from("<H", data, optional)
    if magic != 0x20B:
        raise ValueError("not a PE32+ image")
    (image_base,) = struct.unpack_from("<Q", data, optional + 24)
    (dll_characteristics,) = struct.unpack_from("<H", data, optional + 70)
    (directory_count,) = struct.unpack_from("<I", data, optional + 108)
    relocation_size = 0
    if directory_count > BASE_RELOCATION_DIRECTORY:
        _, relocation_size = struct.unpack_from("<II", data, optional + 112 + 8 * BASE_RELOCATION_DIRECTORY)
    sections = []
    for index in range(section_count):
        header = optional + optional_size + 40 * index
        name = data[header:header + 8].rstrip(b"\0").decode("ascii")
        (section_characteristics,) = struct.unpack_from("<I", data, header + 36)
        sections.append(Section(name, section_characteristics))
    return PeImage(machine, stamp, characteristics, image_base, dll_characteristics, relocation_size, sections)
