"""The executables as Windows sees them before running them: imports,
subsystem, elevation manifest and version block."""

import os
import re
import unittest
import xml.etree.ElementTree as ElementTree

import pefile

# A clean Windows machine has these, and none of the MinGW runtime DLLs.
SYSTEM_DLLS = {"advapi32.dll", "kernel32.dll", "msvcrt.dll", "setupapi.dll", "shell32.dll",
               "user32.dll", "ucrtbase.dll", "ntdll.dll"}
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"


# Each program's names in its version block.
PROGRAMS = {"NK_EXE": ("CleanupNakoraDrivers", b"Nakora Driver Clean Tool"),
            "NK_CHECK_EXE": ("CheckNakoraDrivers", b"Nakora Driver Check Tool")}


class PeResourcesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.programs = [(pefile.PE(os.environ[variable]), *names)
                        for variable, names in PROGRAMS.items()]

    def test_imports_only_system_dlls(self):
        for pe, name, _ in self.programs:
            with self.subTest(program=name):
                dlls = [entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT]
                self.assertIn("shell32.dll", dlls)  # ShellExecuteExW
                for dll in dlls:
                    with self.subTest(dll=dll):
                        self.assertNotRegex(dll, r"^lib(stdc\+\+|gcc|winpthread)")
                        self.assertTrue(dll in SYSTEM_DLLS or dll.startswith("api-ms-win-"), dll)

    def test_console_program_for_x64(self):
        for pe, name, _ in self.programs:
            with self.subTest(program=name):
                self.assertEqual(pe.FILE_HEADER.Machine,
                                 pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"])
                self.assertEqual(pe.OPTIONAL_HEADER.Subsystem,
                                 pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"])

    def test_manifest_requires_administrator(self):
        for pe, name, _ in self.programs:
            with self.subTest(program=name):
                manifests = [resource for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries
                             if kind.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]
                             for name in kind.directory.entries for resource in name.directory.entries]
                self.assertEqual(len(manifests), 1)
                data = manifests[0].data.struct
                root = ElementTree.fromstring(pe.get_data(data.OffsetToData, data.Size))
                levels = root.findall(f".//{ASM_V3}trustInfo/{ASM_V3}security/"
                                      f"{ASM_V3}requestedPrivileges/{ASM_V3}requestedExecutionLevel")
                self.assertEqual([level.attrib for level in levels],
                                 [{"level": "requireAdministrator", "uiAccess": "false"}])

    def test_version_block(self):
        for pe, name, product in self.programs:
            with self.subTest(program=name):
                self.assertEqual(len(pe.VS_FIXEDFILEINFO), 1)
                fixed = pe.VS_FIXEDFILEINFO[0]
                version_1_7_0_0 = (0x00010007, 0x00000000)
                self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), version_1_7_0_0)
                self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), version_1_7_0_0)
                self.assertEqual(fixed.FileType, 0x1)  # VFT_APP
                self.assertEqual(fixed.FileOS, 0x4)  # VOS__WINDOWS32

                tables = {}
                translations = []
                for info in pe.FileInfo[0]:
                    for table in getattr(info, "StringTable", []):
                        tables[table.LangID] = table.entries
                    for var in getattr(info, "Var", []):
                        translations.append(var.entry)
                self.assertEqual(tables, {b"040904B0": {
                    b"CompanyName": b"Nakora Inc.",
                    b"FileDescription": name.encode(),
                    b"FileVersion": b"1.7",
                    b"InternalName": name.encode(),
                    b"OriginalFilename": name.encode() + b".exe",
                    b"ProductName": product,
                    b"ProductVersion": b"1.7",
                }})
                self.assertEqual(len(translations), 1)
                self.assertEqual(re.split(r"\s+", translations[0][b"Translation"].lower()),
                                 ["0x0409", "0x04b0"])


if __name__ == "__main__":
    unittest.main()
