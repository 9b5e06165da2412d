"""The release package: CleanupNakoraDrivers-<version>-win64.zip.

    release_package.py make CLEANUP_EXE CHECK_EXE OUT_DIR
                                          writes the zip and its .sha256 into OUT_DIR
    release_package.py verify ZIP DEST    unpacks ZIP into DEST and checks it
    release_package.py detection-copies DEST
                                          writes the detection script's copies into DEST

The zip holds the two executables, the administrator's guide (README.txt, made from
the part of README.md between the guide markers, plain text with CRLF line
ends), the fleet kit under deploy/ (its PowerShell scripts with CRLF line ends, the
Ansible playbook and its requirements.yml as they are, and the detection script's
copies for the systems that run it without arguments) and SHA256SUMS of all of them. Entry order, time stamps
(SOURCE_DATE_EPOCH), permissions and compression are fixed, so equal inputs give
equal bytes.
"""

import hashlib
import os
import re
import sys
import time
import zipfile

import assemble_kit

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXES = ("CleanupNakoraDrivers.exe", "CheckNakoraDrivers.exe")
GUIDE = "README.txt"
SUMS = "SHA256SUMS"
DEPLOY = (
    "deploy/Install-NakoraCleanup.ps1",
    "deploy/Test-NakoraDrivers.ps1",
    "deploy/Repair-NakoraDrivers.ps1",
    "deploy/nakora-cleanup.yml",
    "deploy/requirements.yml",
)
# Intune and Configuration Manager run a detection script without arguments, so
# each of them gets a copy of the detection script whose defaults are its own. The
# Configuration Manager copies stop the check within the 600 seconds its client
# lets a script run at most, a minute's wait for another run included.
DETECTION = "deploy/Test-NakoraDrivers.ps1"
DETECTION_COPIES = (
    ("deploy/Detect-Win32App.ps1", "Win32App", 30),
    ("deploy/Detect-ConfigMgrApplication.ps1", "ConfigMgrApplication", 8),
    ("deploy/Detect-ConfigMgrSetting.ps1", "ConfigMgrSetting", 8),
)
KIT = (*DEPLOY, *(name for name, _, _ in DETECTION_COPIES))
ENTRIES = (*EXES, GUIDE, *KIT, SUMS)
GUIDE_BEGINS = "<!-- guide begins -->"
GUIDE_ENDS = "<!-- guide ends -->"


def version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        major, minor = re.search(r"project\(\S+ VERSION (\d+)\.(\d+)", f.read()).groups()
    return f"{major}.{minor}"


def zip_name():
    return f"CleanupNakoraDrivers-{version()}-win64.zip"


def guide_text(readme):
    """The guide part of README.md as plain text with CRLF line ends."""
    start = readme.index(GUIDE_BEGINS) + len(GUIDE_BEGINS)
    markdown = readme[start : readme.index(GUIDE_ENDS)].strip("\n")
    title = f"CleanupNakoraDrivers {version()} for 64-bit Windows: administrator's guide"
    lines = [title, "=" * len(title), ""]
    in_code = False
    for line in markdown.split("\n"):
        if line.strip().startswith("```"):
            in_code = not in_code
            continue
        if in_code:
            lines.append("    " + line if line.strip() else "")
            continue
        if line.startswith("## "):
            heading = line[3:]
            lines += [heading, "-" * len(heading)]
            continue
        line = re.sub(r"\*\*(.+?)\*\*", r"\1", line).replace("`", "")
        lines.append(line.rstrip())
    assert not in_code, "unterminated code block in the guide"
    return "\r\n".join(lines).encode("ascii") + b"\r\n"


def deploy_file(name):
    """A kit file as shipped: ASCII, and CRLF line ends for the Windows scripts."""
    with open(os.path.join(ROOT, name), "rb") as f:
        data = f.read()
    data.decode("ascii")  # Windows PowerShell 5.1 reads a file without a BOM as ANSI
    if name.endswith(".ps1"):
        data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    return data


def detection_copy(script, name, mode, minutes):
    """The detection script as shipped, with other defaults for -For and -TimeoutMinutes."""
    defaults = ((b"[string]$For = 'Remediations'", b"[string]$For = '%s'" % mode.encode()),
                (b"[double]$TimeoutMinutes = 30", b"[double]$TimeoutMinutes = %d" % minutes))
    for old, new in defaults:
        if script.count(old) != 1:
            sys.exit(f"{DETECTION}: expected one {old.decode()}, to make {name}")
        script = script.replace(old, new)
    first = "# %s: %s with -For %s by default.\r\n"
    return (first % (name.split("/")[-1], DETECTION.split("/")[-1], mode)).encode() + script


def kit_files():
    """The kit's files as shipped, in package order."""
    files = [(name, deploy_file(name)) for name in DEPLOY]
    script = dict(files)[DETECTION]
    return files + [(name, detection_copy(script, name, mode, minutes))
                    for name, mode, minutes in DETECTION_COPIES]


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def sums_text(files):
    return b"".join(f"{sha256(data)}  {name}\r\n".encode() for name, data in files)


def dos_time(epoch):
    # A zip entry cannot say anything before 1980.
    return time.gmtime(max(epoch, 315532800))[:6]


def make(cleanup_exe, check_exe, out_dir):
    epoch = int(os.environ["SOURCE_DATE_EPOCH"])
    if assemble_kit.stale():  # never a release of scripts older than their sources
        sys.exit("deploy/*.ps1 are not what deploy/src makes: run scripts/assemble_kit.py")
    files = []
    for name, exe_path in zip(EXES, (cleanup_exe, check_exe)):
        if os.path.basename(exe_path) != name:
            sys.exit(f"{exe_path}: expected {name} there")
        with open(exe_path, "rb") as f:
            files.append((name, f.read()))
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        files.append((GUIDE, guide_text(f.read())))
    files += kit_files()
    files.append((SUMS, sums_text(files)))

    os.makedirs(out_dir, exist_ok=True)
    path = os.path.join(out_dir, zip_name())
    with zipfile.ZipFile(path, "w") as archive:
        for name, data in files:
            entry = zipfile.ZipInfo(name, date_time=dos_time(epoch))
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 3  # Unix, so that the mode below is what it says
            entry.external_attr = 0o100644 << 16
            archive.writestr(entry, data, compresslevel=9)
    with open(path, "rb") as f:
        digest = sha256(f.read())
    with open(path + ".sha256", "w", newline="\n") as f:
        f.write(f"{digest}  {zip_name()}\n")
    print(f"{path}\n{digest}")


def verify(zip_path, dest):
    """Unpacks the package as an administrator would and checks what they get."""
    with zipfile.ZipFile(zip_path) as archive:
        names = archive.namelist()
        if tuple(names) != ENTRIES:
            sys.exit(f"{zip_path}: holds {names}, expected {list(ENTRIES)}")
        archive.extractall(dest)
    files = {}
    for name in ENTRIES:
        with open(os.path.join(dest, name), "rb") as f:
            files[name] = f.read()
    problems = []
    published = zip_path + ".sha256"
    if os.path.exists(published):
        with open(zip_path, "rb") as f, open(published) as g:
            if g.read().split()[0] != sha256(f.read()):
                problems.append(f"the zip does not match {os.path.basename(published)}")
    if sums_text([(name, files[name]) for name in (*EXES, GUIDE, *KIT)]) != files[SUMS]:
        problems.append(f"{SUMS} does not match the files")
    for name in EXES:
        if not files[name].startswith(b"MZ"):
            problems.append(f"{name} is not a Windows executable")
    guide = files[GUIDE]
    if b"\n" in guide.replace(b"\r\n", b"") or b"\r" in guide.replace(b"\r\n", b""):
        problems.append(f"{GUIDE} has line ends other than CRLF")
    if b"Where to run it from" not in guide or b"Checking a machine" not in guide:
        problems.append(f"{GUIDE} lacks the guide's sections")
    for name, mode, minutes in DETECTION_COPIES:
        if files[name] != detection_copy(files[DETECTION], name, mode, minutes):
            problems.append(f"{name} is not {DETECTION} with -For {mode}")
    for name in KIT:
        if name.endswith(".ps1") and b"\n" in files[name].replace(b"\r\n", b""):
            problems.append(f"{name} has line ends other than CRLF")
        if any(byte > 127 for byte in files[name]):
            problems.append(f"{name} is not ASCII")
    if problems:
        sys.exit(f"{zip_path}: " + "; ".join(problems))
    print(f"{zip_path}: {', '.join(ENTRIES)}; {SUMS} matches")


def detection_copies(dest):
    """The copies as the package ships them, for the kit's tests."""
    os.makedirs(dest, exist_ok=True)
    for name, data in kit_files()[len(DEPLOY):]:
        with open(os.path.join(dest, name.split("/")[-1]), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    commands = {"make": (make, 5), "verify": (verify, 4),
                "detection-copies": (detection_copies, 3)}
    if len(sys.argv) < 2 or sys.argv[1] not in commands or len(sys.argv) != commands[sys.argv[1]][1]:
        sys.exit(__doc__)
    commands[sys.argv[1]][0](*sys.argv[2:])
