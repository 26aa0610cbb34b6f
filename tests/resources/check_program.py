#!/usr/bin/env python3
"""Reads the built launcher back and compares it with what it must be: a PE32
i386 Windows GUI program importing system DLLs only, with the confirmation
dialog, the icon group, the version block and the payload resource as the
resource script means them, all in language Japanese.

Usage: check_program.py PROGRAM.exe OBJDUMP
"""
import struct
import subprocess
import sys
import unittest

from pe_resources import read_resources

PROGRAM, OBJDUMP = sys.argv[1:3] if len(sys.argv) >= 3 else (None, None)
JAPANESE = 0x0411
RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_VERSION = 3, 5, 14, 16
SYSTEM_DLLS = {'KERNEL32.DLL', 'USER32.DLL', 'ADVAPI32.DLL', 'GDI32.DLL', 'MSVCRT.DLL',
               'COMCTL32.DLL', 'SHELL32.DLL'}


class Reader:
    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos

    def u16(self):
        v = struct.unpack_from('<H', self.data, self.pos)[0]
        self.pos += 2
        return v

    def s16(self):
        v = struct.unpack_from('<h', self.data, self.pos)[0]
        self.pos += 2
        return v

    def u32(self):
        v = struct.unpack_from('<I', self.data, self.pos)[0]
        self.pos += 4
        return v

    def u8(self):
        v = self.data[self.pos]
        self.pos += 1
        return v

    def sz_or_ord(self):
        if struct.unpack_from('<H', self.data, self.pos)[0] == 0xFFFF:
            self.pos += 2
            return self.u16()
        return self.sz()

    def sz(self):
        end = self.pos
        while struct.unpack_from('<H', self.data, end)[0] != 0:
            end += 2
        text = self.data[self.pos:end].decode('utf-16-le')
        self.pos = end + 2
        return text

    def align(self):
        self.pos = (self.pos + 3) & ~3


INTRO = '●以下のﾃﾞｨﾚｸﾄﾘｰにｲﾝｽﾄｰﾙされているﾌﾟﾛｸﾞﾗﾑを\n \u3000ﾊﾞｰｼﾞｮﾝｱｯﾌﾟします。'
BUTTON, STATIC = 0x80, 0x82
# kind, id, text, x, y, cx, cy, style
CONTROLS = [
    (BUTTON, 1, 'はい', 131, 77, 35, 14, 0x50010001),
    (BUTTON, 2, 'いいえ', 171, 77, 35, 14, 0x50010000),
    (STATIC, 0xFFFF, INTRO, 46, 19, 155, 20, 0x50020000),
    (STATIC, 0xFFFF, 128, 16, 19, 20, 20, 0x50000003),
    (STATIC, 1000, '', 51, 40, 155, 30, 0x50020000),
    (STATIC, 0xFFFF, 'よろしいですか？', 46, 79, 55, 10, 0x50020000),
    (STATIC, 0xFFFF, None, 15, 108, 195, 10, 0x50020000),  # the credit line: our own wording
    (BUTTON, 0xFFFF, '', 4, 5, 210, 95, 0x50000007),
]

VERSION_STRINGS = [
    ('CompanyName', ''),
    ('FileDescription', 'KvWin101 MFC ｱﾌﾟﾘｹｰｼｮﾝ'),
    ('FileVersion', '1, 0, 0, 1'),
    ('InternalName', 'KvWin101'),
    ('LegalCopyright', None),  # the legal notice: our own wording
    ('LegalTrademarks', ''),
    ('OriginalFilename', 'KvWin101.EXE'),
    ('ProductName', 'KvWin101 ｱﾌﾟﾘｹｰｼｮﾝ'),
    ('ProductVersion', '1, 0, 0, 1'),
]


def version_node(data, pos):
    """One node of the version tree: (key, value bytes, is_text, children, end)."""
    r = Reader(data, pos)
    length, value_length, is_text = r.u16(), r.u16(), r.u16()
    key = r.sz()
    r.align()
    value_bytes = value_length * 2 if is_text else value_length
    value = data[r.pos:r.pos + value_bytes]
    r.pos += value_bytes
    r.align()
    children = []
    end = pos + length
    while r.pos < end:
        child = version_node(data, r.pos)
        children.append(child)
        r.pos = (child[4] + 3) & ~3
    return key, value, is_text, children, end


class ProgramTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.res = read_resources(PROGRAM)
        cls.headers = subprocess.run([OBJDUMP, '-p', PROGRAM], check=True,
                                     capture_output=True, text=True).stdout

    def resource(self, rtype, name):
        self.assertIn((rtype, name), list(self.res), f'resource {rtype}/{name} missing')
        language, body = self.res[(rtype, name)]
        self.assertEqual(language, JAPANESE, f'resource {rtype}/{name} language')
        return body

    def test_is_a_32_bit_windows_gui_program_importing_system_dlls_only(self):
        self.assertIn('file format pei-i386', self.headers)
        self.assertRegex(self.headers, r'Magic\s+010b\s+\(PE32\)')
        self.assertRegex(self.headers, r'Subsystem\s+00000002\s+\(Windows GUI\)')
        dlls = {line.split(':', 1)[1].strip().upper()
                for line in self.headers.splitlines() if 'DLL Name:' in line}
        self.assertTrue(dlls, 'no imports found')
        self.assertLessEqual(dlls, SYSTEM_DLLS, f'non-system imports: {dlls - SYSTEM_DLLS}')

    def test_dialog_template(self):
        r = Reader(self.resource(RT_DIALOG, 102))
        self.assertEqual((r.u16(), r.u16()), (1, 0xFFFF), 'an extended template')
        help_id, ex_style, style, count = r.u32(), r.u32(), r.u32(), r.u16()
        self.assertEqual((help_id, ex_style, style, count), (0, 0x00040000, 0x90C800C0, 8))
        self.assertEqual((r.s16(), r.s16(), r.s16(), r.s16()), (0, 0, 219, 119))
        self.assertEqual(r.sz_or_ord(), '', 'no menu')
        self.assertEqual(r.sz_or_ord(), '', 'the system dialog class')
        self.assertEqual(r.sz(), 'Kelvaro for Win ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ')
        self.assertEqual((r.u16(), r.u16(), r.u8(), r.u8()), (9, 0, 0, 1), 'point size, weight, italic, charset')
        self.assertEqual(r.sz(), 'ＭＳ Ｐゴシック')
        for i, (kind, cid, text, x, y, cx, cy, cstyle) in enumerate(CONTROLS):
            r.align()
            with self.subTest(control=i + 1):
                self.assertEqual((r.u32(), r.u32(), r.u32()), (0, 0, cstyle), 'help id, extended style, style')
                self.assertEqual((r.s16(), r.s16(), r.s16(), r.s16()), (x, y, cx, cy))
                self.assertEqual(r.u32() & 0xFFFF, cid)
                self.assertEqual(r.sz_or_ord(), kind)
                title = r.sz_or_ord()
                if text is None:
                    self.assertTrue(title, 'the credit line has a text')
                else:
                    self.assertEqual(title, text)
                self.assertEqual(r.u16(), 0, 'no creation data')

    def test_icon_group_has_two_16_colour_images(self):
        r = Reader(self.resource(RT_GROUP_ICON, 128))
        self.assertEqual((r.u16(), r.u16(), r.u16()), (0, 1, 2))
        expected = [(32, 744), (16, 296)]
        for size, stored in expected:
            width, height, colours, _ = r.u8(), r.u8(), r.u8(), r.u8()
            planes, bits, length, image_id = r.u16(), r.u16(), r.u32(), r.u16()
            self.assertEqual((width, height, colours, planes, bits, length), (size, size, 16, 1, 4, stored))
            image = self.resource(RT_ICON, image_id)
            self.assertEqual(len(image), stored)
            header = struct.unpack_from('<IiiHH', image)
            self.assertEqual(header, (40, size, size * 2, 1, 4), 'a 4-bit image with its mask')

    def test_version_block(self):
        key, fixed, _, children, _ = version_node(self.resource(RT_VERSION, 1), 0)
        self.assertEqual(key, 'VS_VERSION_INFO')
        f = struct.unpack('<13I', fixed)
        self.assertEqual(f[0], 0xFEEF04BD)
        self.assertEqual(f[2:6], (0x00010000, 0x00000001, 0x00010000, 0x00000001), 'versions 1.0.0.1')
        self.assertEqual(f[6:11], (0x3F, 0, 0x4, 0x1, 0), 'flags mask, flags, OS, type, subtype')
        blocks = {child[0]: child for child in children}
        tables = blocks['StringFileInfo'][3]
        self.assertEqual([t[0] for t in tables], ['041104B0'])
        entries = [(node[0], node[1].decode('utf-16-le').rstrip('\0')) for node in tables[0][3]]
        self.assertEqual([k for k, _ in entries], [k for k, _ in VERSION_STRINGS])
        for (k, value), (_, expected) in zip(entries, VERSION_STRINGS):
            if expected is None:
                self.assertTrue(value, k)
            else:
                self.assertEqual(value, expected, k)
        translation = blocks['VarFileInfo'][3][0]
        self.assertEqual(translation[0], 'Translation')
        self.assertEqual(struct.unpack('<HH', translation[1]), (0x0411, 0x04B0))

    def test_manifest(self):
        import xml.etree.ElementTree as ET
        root = ET.fromstring(self.resource(24, 1))
        ns = {'v1': 'urn:schemas-microsoft-com:asm.v1', 'v3': 'urn:schemas-microsoft-com:asm.v3',
              'c': 'urn:schemas-microsoft-com:compatibility.v1',
              'w5': 'http://schemas.microsoft.com/SMI/2005/WindowsSettings',
              'w16': 'http://schemas.microsoft.com/SMI/2016/WindowsSettings'}
        level = root.find('v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel', ns)
        self.assertEqual((level.get('level'), level.get('uiAccess')), ('requireAdministrator', 'false'))
        systems = {e.get('Id') for e in root.findall('c:compatibility/c:application/c:supportedOS', ns)}
        self.assertEqual(systems, {
            '{e2011457-1546-43c5-a5fe-008deee3d3f0}',  # Vista
            '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}',  # 7
            '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}',  # 8
            '{1f676c76-80e1-4239-95bb-83d0f6d0da78}',  # 8.1
            '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}',  # 10 and 11
        })
        settings = root.find('v3:application/v3:windowsSettings', ns)
        self.assertEqual(settings.find('w5:dpiAware', ns).text, 'true')
        self.assertEqual(settings.find('w16:dpiAwareness', ns).text, 'system')
        controls = root.find('v1:dependency/v1:dependentAssembly/v1:assemblyIdentity', ns)
        self.assertEqual((controls.get('name'), controls.get('version'), controls.get('publicKeyToken')),
                         ('Microsoft.Windows.Common-Controls', '6.0.0.0', '6595b64144ccf1df'))

    def test_carries_the_payload_container(self):
        body = self.resource('LZT', 'UPEXE')
        self.assertEqual(body[0], 0xC6, 'the container starts with its marker byte')
        self.assertEqual(struct.unpack_from('<I', body, 1)[0], len(body) - 5)
        record = self.resource('LZT', 'UPSUM')
        self.assertEqual(len(record), 36, 'decoded size and SHA-256 of the update program')


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1])
