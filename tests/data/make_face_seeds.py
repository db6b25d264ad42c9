#!/usr/bin/env python3
"""Writes the seeds of fuzz/stub_rewrite_fuzz.cpp and fuzz/ico_fuzz.cpp:
a small PE32 and PE32+ stub, the hostile layouts and icon files found by
the red team, each shrunk to the fuzzers' 64 KiB. Run from anywhere:
    tests/data/make_face_seeds.py"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
MANIFEST = b'<assembly><requestedExecutionLevel level="requireAdministrator" uiAccess="false"/></assembly>'


def resource_tree(branches, data, listed=None):
    """A resource section at 0x2000: root -> type 24 -> id 1 -> language
    0x409 -> data, the root and type directories holding `branches` entries
    that all point at the one directory below them; the data entry says
    `listed` bytes (all of the data if None)."""
    def directory(count, name, target):
        return struct.pack('<12xHH', 0, count) + struct.pack('<II', name, target) * count
    size = 16 + 8 * branches
    entry_at = 2 * size + 24
    root = directory(branches, 24, 0x80000000 | size)
    types = directory(branches, 1, 0x80000000 | 2 * size)
    ids = directory(1, 0x409, entry_at)
    return root + types + ids + struct.pack('<IIII', 0x2000 + entry_at + 16, len(data) if listed is None else listed, 0, 0) + data


def stub(plus=False, rsrc=None, file_alignment=0x200, text_at=0x200, rsrc_at=0x400):
    """Headers, .text, .rsrc and a discardable .reloc, each 0x200 bytes in the file."""
    rsrc = rsrc if rsrc is not None else resource_tree(1, MANIFEST)
    rsrc_raw = (len(rsrc) + 0x1FF) & ~0x1FF
    optional_size = 240 if plus else 224
    directories = 112 if plus else 96
    optional = bytearray(optional_size)
    struct.pack_into('<H', optional, 0, 0x20B if plus else 0x10B)
    struct.pack_into('<II', optional, 32, 0x1000, file_alignment)
    struct.pack_into('<IIIH', optional, 56, 0x4000, 0x200, 0, 2)
    struct.pack_into('<I', optional, directories - 4, 16)
    struct.pack_into('<II', optional, directories + 16, 0x2000, len(rsrc))
    struct.pack_into('<II', optional, directories + 40, 0x3000, 8)
    coff = struct.pack('<4sHHIIIHH', b'PE\0\0', 0x8664 if plus else 0x14C, 3, 0, 0, 0, optional_size, 0x102)
    sections = [(b'.text', 0x10, 0x1000, 0x200, text_at, 0x60000020),  # virtual size, address, raw size, offset
                (b'.rsrc', len(rsrc), 0x2000, rsrc_raw, rsrc_at, 0x40000040),
                (b'.reloc', 8, 0x3000, 0x200, 0x400 + rsrc_raw, 0x42000040)]
    table = b''.join(struct.pack('<8sIIII12xI', *s) for s in sections)
    headers = (b'MZ' + bytes(0x3A) + struct.pack('<I', 0x40) + coff + optional + table).ljust(0x200, b'\0')
    body = b'\xC3'.ljust(0x200, b'\0') + rsrc.ljust(rsrc_raw, b'\0') + bytes(0x200)
    return headers + body + (bytes(0x200) if text_at != 0x200 else b'')


def png(width=256, height=256, end=True):
    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0)) + \
        (chunk(b'IEND', b'') if end else b'')


def icon(images, entries=None):
    """images: (width, data); entries, if given: (width, size, offset) as listed."""
    offset = 6 + 16 * len(entries or images)
    listed = entries or []
    if entries is None:
        for width, data in images:
            listed.append((width, len(data), offset))
            offset += len(data)
    head = struct.pack('<HHH', 0, 1, len(listed))
    head += b''.join(struct.pack('<BBBBHHII', w % 256, w % 256, 0, 0, 1, 32, n, at) for w, n, at in listed)
    return head + b''.join(data for _, data in images)


def write(folder, name, data):
    with open(os.path.join(HERE, folder, name), 'wb') as out:
        out.write(data)


def main():
    shared = 6 + 16 * 4000
    seeds = {
        'stub_rewrite_fuzz': {
            'seed-pe32': stub(),
            'seed-pe32plus': stub(plus=True),
            'seed-rsrc-at-offset-0': stub(rsrc_at=0),
            'seed-255x255-leaves-one-entry': stub(rsrc=resource_tree(255, MANIFEST.ljust(1024))),
            'seed-file-alignment-2g': stub(file_alignment=0x80000000),
            'seed-text-stored-behind-rsrc': stub(text_at=0x800),
            'seed-level-outside-resource-data': stub(rsrc=resource_tree(1, MANIFEST, listed=10)),
        },
        'ico_fuzz': {
            'seed-dib-and-png': icon([(16, b'\xAA\xBB\xCC\xDD'), (256, png())]),
            'seed-4000-entries-same-bytes': icon([(16, b'\xAA\xBB\xCC\xDD')], [(16, 4, shared)] * 4000),
            'seed-3000-one-byte-images': icon([(16, b'\x01')] * 3000),
            'seed-png-cut-short': icon([(256, png(end=False))]),
            'seed-png-2g-wide': icon([(256, png(width=0x7FFFFFFF))]),
            'seed-png-not-as-listed': icon([(16, png(32, 32))]),
        },
    }
    for folder, files in seeds.items():
        for name, data in files.items():
            write(folder, name, data)


if __name__ == '__main__':
    main()
