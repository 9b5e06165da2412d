"""The executable as Windows sees it before running it: imports, subsystem,
elevation manifest and version block."""

import os
import re
import unittest
import xml.etree.ElementTree as ElementTree

import pefile

# A clean Windows machine has these, and none of the MinGW runtime DLLs.
SYSTEM_DLLS = {"advapi32.dll", "kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll",
               "ucrtbase.dll", "ntdll.dll"}
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"


class PeResourcesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(os.environ["NK_EXE"])

    def test_imports_only_system_dlls(self):
        dlls = [entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT]
        self.assertIn("shell32.dll", dlls)  # ShellExecuteExW
        for dll in dlls:
            with self.subTest(dll=dll):
                self.assertNotRegex(dll, r"^lib(stdc\+\+|gcc|winpthread)")
                self.assertTrue(dll in SYSTEM_DLLS or dll.startswith("api-ms-win-"), dll)

    def test_console_program_for_x64(self):
        self.assertEqual(self.pe.FILE_HEADER.Machine,
                         pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"])
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem,
                         pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"])

    def test_manifest_requires_administrator(self):
        manifests = [resource for kind in self.pe.DIRECTORY_ENTRY_RESOURCE.entries
                     if kind.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]
                     for name in kind.directory.entries for resource in name.directory.entries]
        self.assertEqual(len(manifests), 1)
        data = manifests[0].data.struct
        root = ElementTree.fromstring(self.pe.get_data(data.OffsetToData, data.Size))
        levels = root.findall(f".//{ASM_V3}trustInfo/{ASM_V3}security/"
                              f"{ASM_V3}requestedPrivileges/{ASM_V3}requestedExecutionLevel")
        self.assertEqual([level.attrib for level in levels],
                         [{"level": "requireAdministrator", "uiAccess": "false"}])

    def test_version_block(self):
        self.assertEqual(len(self.pe.VS_FIXEDFILEINFO), 1)
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        version_1_7_0_0 = (0x00010007, 0x00000000)
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), version_1_7_0_0)
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), version_1_7_0_0)
        self.assertEqual(fixed.FileType, 0x1)  # VFT_APP
        self.assertEqual(fixed.FileOS, 0x4)  # VOS__WINDOWS32

        tables = {}
        translations = []
        for info in self.pe.FileInfo[0]:
            for table in getattr(info, "StringTable", []):
                tables[table.LangID] = table.entries
            for var in getattr(info, "Var", []):
                translations.append(var.entry)
        self.assertEqual(tables, {b"040904B0": {
            b"CompanyName": b"Nakora Inc.",
            b"FileDescription": b"CleanupNakoraDrivers",
            b"FileVersion": b"1.7",
            b"InternalName": b"CleanupNakoraDrivers",
            b"OriginalFilename": b"CleanupNakoraDrivers.exe",
            b"ProductName": b"Nakora Driver Clean Tool",
            b"ProductVersion": b"1.7",
        }})
        self.assertEqual(len(translations), 1)
        self.assertEqual(re.split(r"\s+", translations[0][b"Translation"].lower()),
                         ["0x0409", "0x04b0"])


if __name__ == "__main__":
    unittest.main()
