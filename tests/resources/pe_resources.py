"""Reads the resources of a Windows program (PE32 or PE32+) straight from its
resource directory: {(type, name): (language, bytes)}. Types and names are
integers for ordinals and strings otherwise."""
import struct


def read_resources(path):
    data = open(path, 'rb').read()
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    if data[pe:pe + 4] != b'PE\0\0':
        raise ValueError(f'{path}: not a PE file')
    sections, optional_size = struct.unpack_from('<H', data, pe + 6)[0], struct.unpack_from('<H', data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from('<H', data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva, rsrc_size = struct.unpack_from('<II', data, directories + 2 * 8)
    if rsrc_size == 0:
        return {}

    table = optional + optional_size
    spans = []
    for i in range(sections):
        vsize, vaddr, raw_size, raw_ptr = struct.unpack_from('<IIII', data, table + 40 * i + 8)
        spans.append((vaddr, max(vsize, raw_size), raw_ptr))

    def offset(rva):
        for vaddr, size, raw in spans:
            if vaddr <= rva < vaddr + size:
                return raw + rva - vaddr
        raise ValueError(f'RVA {rva:#x} outside every section')

    base = offset(rsrc_rva)

    def name_of(field):
        if field & 0x80000000:
            at = base + (field & 0x7FFFFFFF)
            length = struct.unpack_from('<H', data, at)[0]
            return data[at + 2:at + 2 + 2 * length].decode('utf-16-le')
        return field

    def entries(directory):
        named, ids = struct.unpack_from('<HH', data, base + directory + 12)
        for i in range(named + ids):
            field, target = struct.unpack_from('<II', data, base + directory + 16 + 8 * i)
            yield name_of(field), target

    resources = {}
    for rtype, t in entries(0):
        for name, n in entries(t & 0x7FFFFFFF):
            for language, leaf in entries(n & 0x7FFFFFFF):
                rva, size = struct.unpack_from('<II', data, base + leaf)
                start = offset(rva)
                resources[(rtype, name)] = (language, data[start:start + size])
    return resources
