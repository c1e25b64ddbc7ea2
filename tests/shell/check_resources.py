#!/usr/bin/env python3
"""Reads the resources of a setup program's PE file and checks them byte by byte: the set of
resources and their language, the dialog template, the icon group and its images, the manifest
and the version block. With --payload the payload resource ("SETUP", 2000) must be there too and
hold exactly the bytes of STREAM.

Usage: check_resources.py [--payload STREAM] PROGRAM.exe
Prints one line per failed check and exits 1 if there was any.
"""
import struct
import sys
import xml.etree.ElementTree as ElementTree

ENGLISH_US = 1033
RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 14, 16, 24

failures = []


def expect(what, actual, expected):
    if actual != expected:
        failures.append(f'{what}: {actual!r}, expected {expected!r}')


def u16(data, offset):
    return struct.unpack_from('<H', data, offset)[0]


def u32(data, offset):
    return struct.unpack_from('<I', data, offset)[0]


def read_resources(image):
    """Returns {(type, name, language): bytes}; string types and names as str."""
    pe = u32(image, 0x3C)
    if image[pe:pe + 4] != b'PE\0\0':
        sys.exit('not a PE file')
    section_count = u16(image, pe + 6)
    optional = pe + 24
    optional_size = u16(image, pe + 20)
    magic = u16(image, optional)
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva = u32(image, directories + 2 * 8)
    sections = []
    for i in range(section_count):
        s = optional + optional_size + 40 * i
        virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from('<IIII', image, s + 8)
        sections.append((virtual_address, max(virtual_size, raw_size), raw_pointer))

    def file_offset(rva):
        for address, size, pointer in sections:
            if address <= rva < address + size:
                return rva - address + pointer
        sys.exit(f'RVA {rva:#x} lies in no section')

    root = file_offset(resource_rva)

    def name_of(entry_name):
        if entry_name & 0x80000000:
            at = root + (entry_name & 0x7FFFFFFF)
            return image[at + 2:at + 2 + 2 * u16(image, at)].decode('utf-16-le')
        return entry_name

    def entries(directory):
        count = u16(image, directory + 12) + u16(image, directory + 14)
        for i in range(count):
            name, target = struct.unpack_from('<II', image, directory + 16 + 8 * i)
            yield name_of(name), target

    resources = {}
    for type_id, types in entries(root):
        for name, names in entries(root + (types & 0x7FFFFFFF)):
            for language, leaf in entries(root + (names & 0x7FFFFFFF)):
                data_rva, size = struct.unpack_from('<II', image, root + leaf)
                at = file_offset(data_rva)
                resources[(type_id, name, language)] = image[at:at + size]
    return resources


def read_sz_or_ord(data, offset):
    """A DLGTEMPLATEEX string-or-ordinal field: returns (value, offset after it)."""
    if u16(data, offset) == 0xFFFF:
        return ('ordinal', u16(data, offset + 2)), offset + 4
    end = offset
    while u16(data, end) != 0:
        end += 2
    return data[offset:end].decode('utf-16-le'), end + 2


def check_dialog(data):
    expect('dialog dlgVer', u16(data, 0), 1)
    expect('dialog signature', u16(data, 2), 0xFFFF)
    helpid, exstyle, style, count = struct.unpack_from('<IIIH', data, 4)
    expect('dialog helpID', helpid, 0)
    expect('dialog exStyle', exstyle, 0)
    expect('dialog style', hex(style), hex(0x80C008CA))
    expect('dialog control count', count, 4)
    expect('dialog position and size', struct.unpack_from('<hhhh', data, 18), (0, 0, 253, 75))
    menu, at = read_sz_or_ord(data, 26)
    expect('dialog menu', menu, '')
    window_class, at = read_sz_or_ord(data, at)
    expect('dialog class', window_class, '')
    title, at = read_sz_or_ord(data, at)
    expect('dialog title', title, 'Setup')
    expect('dialog font size, weight, italic, charset', struct.unpack_from('<HHBB', data, at), (8, 0, 0, 0))
    typeface, at = read_sz_or_ord(data, at + 6)
    expect('dialog typeface', typeface, 'MS Shell Dlg')
    static = ('ordinal', 0x0082)
    controls = [
        (1200, 'msctls_progress32', 'Progress1', 0x50000001, (8, 43, 209, 14)),
        (1201, static, '100%', 0x50020002, (222, 46, 22, 8)),
        (1202, static, 'Preparing to install...', 0x50020000, (31, 7, 201, 8)),
        (0xFFFFFFFF, static, ('ordinal', 1000), 0x50000003, (7, 7, 21, 20)),
    ]
    for number, (control_id, control_class, text, control_style, rectangle) in enumerate(controls):
        at = (at + 3) & ~3
        name = f'control {number + 1}'
        helpid, exstyle, style = struct.unpack_from('<III', data, at)
        expect(f'{name} helpID', helpid, 0)
        expect(f'{name} exStyle', exstyle, 0)
        expect(f'{name} style', hex(style), hex(control_style))
        expect(f'{name} position and size', struct.unpack_from('<hhhh', data, at + 12), rectangle)
        expect(f'{name} ID', u32(data, at + 20), control_id)
        actual_class, at = read_sz_or_ord(data, at + 24)
        expect(f'{name} class', actual_class, control_class)
        actual_text, at = read_sz_or_ord(data, at)
        expect(f'{name} text', actual_text, text)
        expect(f'{name} creation data size', u16(data, at), 0)
        at += 2
    expect('dialog template length', len(data), at)


def check_icons(resources):
    group = resources.get((RT_GROUP_ICON, 1000, ENGLISH_US))
    if group is None:
        failures.append('icon group 1000 missing')
        return
    expect('icon group header', struct.unpack_from('<HHH', group, 0), (0, 1, 2))
    expect('icon group length', len(group), 6 + 2 * 14)
    images = [(1, 16, 1384), (2, 32, 2216)]
    for number, (image_id, size, length) in enumerate(images):
        entry = struct.unpack_from('<BBBBHHIH', group, 6 + 14 * number)
        expect(f'icon group entry {number + 1}', entry, (size, size, 0, 0, 1, 8, length, image_id))
        image = resources.get((RT_ICON, image_id, ENGLISH_US))
        if image is None:
            failures.append(f'icon image {image_id} missing')
            continue
        expect(f'icon {image_id} length', len(image), length)
        header = struct.unpack_from('<IiiHHI', image, 0)
        expect(f'icon {image_id} bitmap header', header, (40, size, 2 * size, 1, 8, 0))


def check_manifest(data):
    root = ElementTree.fromstring(data)
    level = root.find('.//{urn:schemas-microsoft-com:asm.v3}requestedExecutionLevel')
    if level is None:
        failures.append('manifest has no requestedExecutionLevel')
    else:
        expect('manifest execution level', dict(level.attrib), {'level': 'asInvoker', 'uiAccess': 'false'})
    identity = root.find('.//{urn:schemas-microsoft-com:asm.v1}dependentAssembly/'
                         '{urn:schemas-microsoft-com:asm.v1}assemblyIdentity')
    if identity is None:
        failures.append('manifest has no dependent assembly')
    else:
        expect('manifest dependency', dict(identity.attrib), {
            'type': 'win32', 'name': 'Microsoft.Windows.Common-Controls', 'version': '6.0.0.0',
            'processorArchitecture': '*', 'publicKeyToken': '6595b64144ccf1df', 'language': '*'})


def read_version_node(data, at):
    """One node of a version block: (key, value bytes, value length, text flag, children, end)."""
    length, value_length, text = struct.unpack_from('<HHH', data, at)
    end = at + length
    key, value_at = read_sz_or_ord(data, at + 6)
    value_at = (value_at + 3) & ~3
    value_bytes = value_length * 2 if text else value_length
    value = data[value_at:value_at + value_bytes]
    children = []
    child = (value_at + value_bytes + 3) & ~3
    while child < end:
        node = read_version_node(data, child)
        children.append(node)
        child = (node[5] + 3) & ~3
    return key, value, value_length, text, children, end


def check_version(data):
    key, fixed, _, _, children, end = read_version_node(data, 0)
    expect('version block key', key, 'VS_VERSION_INFO')
    expect('version block length', end, len(data))
    expect('fixed part', struct.unpack_from('<13I', fixed), (
        0xFEEF04BD, 0x10000, 0x10000, 0x00002, 0x10000, 0x00002, 0x3F, 0x28, 0x40004, 1, 0, 0, 0))
    expect('version block children', [child[0] for child in children], ['StringFileInfo', 'VarFileInfo'])
    if len(children) != 2:
        return
    tables = children[0][4]
    expect('string tables', [table[0] for table in tables], ['040904b0'])
    if tables:
        strings = [(s[0], s[1].decode('utf-16-le').split('\0')[0]) for s in tables[0][4]]
        expect('strings', strings, [
            ('CompanyName', 'mksetup project'),
            ('FileDescription', 'Setup'),
            ('FileVersion', '1, 0, 0, 2'),
            ('InternalName', 'Setup'),
            ('LegalCopyright', 'Copyright (C) 2026 the mksetup project'),
            ('PrivateBuild', '000000.1'),
            ('ProductName', 'Setup'),
            ('ProductVersion', '1, 0, 0, 0'),
            ('SpecialBuild', 'Windows XP/2000'),
        ])
    variables = children[1][4]
    expect('translation', [(v[0], v[1]) for v in variables], [('Translation', struct.pack('<HH', 0x0409, 0x04B0))])


def main():
    arguments = sys.argv[1:]
    payload = None
    if len(arguments) == 3 and arguments[0] == '--payload':
        payload = arguments[1]
        arguments = arguments[2:]
    if len(arguments) != 1:
        sys.exit(__doc__.strip())
    with open(arguments[0], 'rb') as f:
        resources = read_resources(f.read())
    expected = {(RT_ICON, 1), (RT_ICON, 2), (RT_DIALOG, 1100), (RT_GROUP_ICON, 1000),
                (RT_VERSION, 1), (RT_MANIFEST, 1)}
    if payload:
        expected.add(('SETUP', 2000))
        with open(payload, 'rb') as f:
            expect('payload resource', resources.get(('SETUP', 2000, ENGLISH_US)) == f.read(), True)
    expect('resources', sorted((str(t), str(n), lang) for t, n, lang in resources),
           sorted((str(t), str(n), ENGLISH_US) for t, n in expected))
    if (RT_DIALOG, 1100, ENGLISH_US) in resources:
        check_dialog(resources[(RT_DIALOG, 1100, ENGLISH_US)])
    check_icons(resources)
    if (RT_MANIFEST, 1, ENGLISH_US) in resources:
        check_manifest(resources[(RT_MANIFEST, 1, ENGLISH_US)])
    if (RT_VERSION, 1, ENGLISH_US) in resources:
        check_version(resources[(RT_VERSION, 1, ENGLISH_US)])
    for failure in failures:
        print(f'{arguments[0]}: {failure}')
    sys.exit(1 if failures else 0)


if __name__ == '__main__':
    main()
