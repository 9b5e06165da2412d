"""A simulated Windows machine for running the real CleanupNakoraDrivers.exe
end to end, on Windows itself or in a Wine prefix.

The stand-ins for devcon and dism (tests/standins) read and change the machine
through the files of one directory, named by NKSIM (see machine_files.h), and
through the host's own device tree, where the harness lays the device nodes out
with nkdevtree; the host's own cmd, del and registry do the rest. Every run starts from a machine
laid out anew, in a current directory of its own that holds the stand-ins: the
tool's own search finds them there first, and its PATH leads nowhere else, so
a stand-in left out is really missing.
"""

import dataclasses
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

PARENT_KEY = "HKEY_LOCAL_MACHINE\\Software\\Nakora"
LISTING_FILES = ("devicelist.txt", "audiodevicelist.txt", "driverlist.txt")
CHECK_LISTING_FILES = tuple("check-" + name for name in LISTING_FILES)
# What the tool's del commands could reach in %WINDIR%\system32\drivers.
DELETABLE_DRIVER_FILES = ("NkDev_*.sys", "NkCommon.sys")
# Far longer than a run takes: a run that stalls fails instead of holding up
# the job.
RUN_TIMEOUT = 120

# What devcon receives when cmd runs a listing command: the blank before the
# redirection stays on.
FINDALL_DEVICES = b"devcon\tfindall *VID_E7A9* "
FINDALL_BRAND = b"devcon\tfindall *QVA* "
FINDALL_AUDIO = b"devcon\tfindall *MMDEVAPI* "
GET_DRIVERS = b"dism\t/online /get-drivers /format:table "
RESCAN = b"devcon\t rescan "

# Where every test must run (NK_E2E_NO_SKIP=1, as CI sets on Windows), a skip
# fails the test: unittest would pass the run.
if os.environ.get("NK_E2E_NO_SKIP") == "1":
    def _fail_the_skip(result, test, reason):
        try:
            raise AssertionError(f"skipped where no test may skip: {reason}")
        except AssertionError:
            result.addFailure(test, sys.exc_info())

    unittest.TextTestResult.addSkip = _fail_the_skip


def run(command, timeout=None, **options):
    """subprocess.run, but a child that outlives `timeout` goes with its whole
    process tree, and nothing then waits on its pipes: subprocess.run kills
    the child alone and, on Windows, then waits without limit for pipes that
    the child's children still hold (python/cpython#81605, #121157)."""
    process = subprocess.Popen(command, start_new_session=os.name != "nt", **options)
    try:
        stdout, stderr = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        if os.name == "nt":
            subprocess.run(["taskkill", "/T", "/F", "/PID", str(process.pid)],
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
        else:
            os.killpg(process.pid, signal.SIGKILL)
        process.kill()
        process.wait()
        raise
    return subprocess.CompletedProcess(command, process.returncode, stdout, stderr)


def standin(name):
    """A stand-in or the device tree tool, from the one folder they are built in."""
    return os.path.join(os.path.abspath(os.environ["NK_STANDINS"]), name)


def padded(instance_id):
    """An instance ID as devcon's findall lists it, padded to 60 columns."""
    return instance_id.ljust(60)


def remove_call(instance_id):
    return b"devcon\t -f remove @" + instance_id


def dp_delete_call(published):
    return b"devcon\t -f /dp_delete " + published


def through_cmd(call, redirection):
    """cmd's start for a listing command, as the logged cmd has it."""
    return b"cmd\t /C " + call.replace(b"\t", b" ", 1) + redirection


def as_text(value):
    """Names as str; bytes are read as the listing's code page has them."""
    return value.decode("latin-1") if isinstance(value, bytes) else value


def devtree_field(text):
    """An ID or name as nkdevtree's files carry it: control characters, the
    tab and line feed among them, and '%' as "%XX"."""
    return re.sub(r"[\x00-\x1f%]", lambda m: "%%%02X" % ord(m.group()), text)


@dataclasses.dataclass
class Device:
    """A device node or audio endpoint. Names and IDs are bytes (as devcon's
    listing has them) or str (which may hold any character); a name left None
    is not set. devcon's findall lists the node by its hardware and compatible
    IDs and names it by its friendly name, else its description."""

    instance_id: bytes
    friendly_name: object = None
    description: object = None
    hardware_ids: list = None  # None: the instance ID up to its last backslash
    compatible_ids: list = dataclasses.field(default_factory=list)

    def record(self):
        """The line nkdevtree's "add" reads, in UTF-8."""
        instance_id = as_text(self.instance_id)
        hardware_ids = (self.hardware_ids if self.hardware_ids is not None
                        else [instance_id.rpartition("\\")[0]])
        fields = [devtree_field(instance_id),
                  "|".join(devtree_field(as_text(i)) for i in hardware_ids),
                  "|".join(devtree_field(as_text(i)) for i in self.compatible_ids),
                  devtree_field(as_text(self.description or "")),
                  devtree_field(as_text(self.friendly_name or ""))]
        return "\t".join(fields) + "\n"


@dataclasses.dataclass
class Machine:
    """What is installed before a run.

    devices: Device records, device nodes and audio endpoints alike.
    drivers: rows of the driver table (published name, original file name,
        inbox, class, provider, date, version).
    listings: verbatim listings instead: "findall <pattern without *>" or
        "dism table" mapped to the bytes the tool prints.
    codes: what is scripted by operation ("findall *QVA*", "remove <ID>",
        "dp_delete <name>", "rescan", "get-drivers"): an exit code, or for a
        removal b"fail" or b"hang" (see tests/standins/devcon.cc); others
        exit 0.
    registry32, registry64: the key HKLM\\Software\\Nakora in each view, as
        {relative key path: {value name: string}} with "" for the key itself;
        None leaves the key out.
    driver_files: names of files in %WINDIR%\\system32\\drivers.
    hidden_system_files: those of them that are hidden system files.
    driver_folders: folders there, {name: names of the files in each}.
    cwd_files: files already in the run's directory, {name: bytes}.
    cmd_elsewhere: cmd works in %SystemRoot%, as when started from a network
        directory: under Wine through a cmd.exe in the run's directory, on
        Windows by running from the directory's administrative share. devcon
        and dism are then on the PATH.
    cmd_logged: cmd's own starts are logged too, through a stand-in in the
        run's directory that hands each to the system's cmd there.
    """

    devices: list = dataclasses.field(default_factory=list)
    drivers: list = dataclasses.field(default_factory=list)
    listings: dict = dataclasses.field(default_factory=dict)
    codes: dict = dataclasses.field(default_factory=dict)
    registry32: dict = None
    registry64: dict = None
    driver_files: list = dataclasses.field(default_factory=list)
    hidden_system_files: list = dataclasses.field(default_factory=list)
    driver_folders: dict = dataclasses.field(default_factory=dict)
    cwd_files: dict = dataclasses.field(default_factory=dict)
    cmd_elsewhere: bool = False
    cmd_logged: bool = False
    devcon: bool = True
    dism: bool = True


@dataclasses.dataclass
class Outcome:
    stdout: bytes
    exit_code: int
    calls: list  # b"<program>\t<parameter text>", in order
    registry32: dict
    registry64: dict
    # Files in the drivers directory that were not there before; a folder as
    # "name\\", followed by its files as "name\\file".
    driver_files: list
    listings: dict  # listing file name -> bytes, None when absent
    devices: list  # the laid-out instance IDs still in the device tree, in the machine's order
    drivers: list  # published names still present
    stderr: bytes = b""
    # The check's runs on the same machine, in the same current directory,
    # just before and just after this one; the first one's state is the state
    # this run started from.
    before: "Outcome" = None
    after: "Outcome" = None
    # The state as laid out, before any run.
    laid_out: "Outcome" = None


def read(path):
    """A file's bytes, None when it is absent."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def _read_record(path):
    """The names a record of what was laid out holds."""
    try:
        with open(path, encoding="utf-8") as record:
            return [name for name in record.read().split("\n") if name]
    except FileNotFoundError:
        return []


def _reg_file(view_key):
    """A REGEDIT4 file that lays the key out."""
    lines = ["REGEDIT4", ""]
    for path, values in sorted((view_key or {}).items()):
        lines.append(f"[{PARENT_KEY}\\{path}]" if path else f"[{PARENT_KEY}]")
        for name, data in values.items():
            data = data.replace("\\", "\\\\").replace('"', '\\"')
            lines.append(f'"{name}"="{data}"')
        lines.append("")
    return "\r\n".join(lines) + "\r\n"


def _as_read(view_key):
    """What reg query reads of the key `_reg_file` lays out: the keys between
    come with it."""
    read = {}
    for path, values in (view_key or {}).items():
        parts = path.split("\\")
        for depth in range(1, len(parts)):
            read.setdefault("\\".join(parts[:depth]), {})
        read[path] = dict(values)
    if read.get("") == {}:
        del read[""]
    return read


def _parse_reg_query(text):
    """reg query /s output -> {relative key path: {value name: data}}.

    The 32-bit view's WOW6432Node, should reg spell the path with it, and a
    line for the parent key without values, which Wine's reg leaves out, are
    dropped so that both hosts read alike."""
    keys = {}
    current = None
    for line in text.splitlines():
        key = re.sub(r"(?i)\\WOW6432Node(?=\\)", "", line)
        if key.lower().startswith(PARENT_KEY.lower()):
            current = keys.setdefault(key[len(PARENT_KEY) :].lstrip("\\"), {})
        elif line.startswith("    ") and current is not None:
            name, _, data = line[4:].split("    ", 2)
            current[name] = data
    if keys.get("") == {}:
        del keys[""]
    return keys


class WineHost:
    """The Wine prefix named by WINEPREFIX, made on first use. It is the
    tests' own: what an earlier run left in it may go."""

    # Wine's own text for the missing-file code.
    LAUNCH_FAILURE = (2, "File not found.")
    # A program's PATH unless a run gives its own.
    USUAL_PATH = "C:\\windows\\system32;C:\\windows"
    ENVIRONMENT_KEY = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\Environment"

    def __init__(self):
        import fcntl  # POSIX only, as Wine is

        self.wine_run = os.environ["NK_WINE_RUN"]
        self.prefix = os.environ["WINEPREFIX"]
        # One machine, one run at a time, also across separate ctest runs.
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        self.lock = open(self.prefix + ".machine-lock", "w")
        fcntl.flock(self.lock, fcntl.LOCK_EX)
        self.windir = os.path.join(self.prefix, "drive_c", "windows")
        self.system32 = os.path.join(self.windir, "system32")
        self.program_files = os.path.join(self.prefix, "drive_c", "Program Files")
        # The driver files and device nodes laid out, kept across runs of the tests.
        self.record = os.path.join(self.prefix, "nk-e2e-driver-files")
        self.device_record = os.path.join(self.prefix, "nk-e2e-devices")
        # Wine makes a program's PATH from the prefix's registry, with WINEPATH
        # before it: with the registry's part empty, WINEPATH is all of it.
        self.run(["reg", "add", self.ENVIRONMENT_KEY, "/v", "PATH", "/t", "REG_EXPAND_SZ", "/d", "",
                  "/f"], check=True)

    def close(self):
        self.lock.close()

    def settle(self):
        """Waits until every program of the prefix has ended."""
        subprocess.run(["wineserver", "-w"], env=dict(os.environ, WINEPREFIX=self.prefix),
                       timeout=RUN_TIMEOUT, check=False)

    def command(self, args, env=None, path=None):
        """The command line and environment that run a Windows program. The
        process started is the Windows process itself: killing it is what
        TerminateProcess would do."""
        env = dict(os.environ, **(env or {}), WINEPATH=self.USUAL_PATH if path is None else path)
        return [self.wine_run, *args], env

    @staticmethod
    def glitched(exit_code, stdout):
        """Whether Wine itself failed a run, as it does about once in a few
        thousand starts: exit code 1 with nothing printed, as if the program
        never started, or 127 for one that ran to its end. A program named
        without its path goes through start.exe, which now and then says
        "ShellExecuteEx failed" instead. The programs run here print before
        they fail and never end with 127."""
        return exit_code == 127 or (exit_code == 1 and (
            not stdout or b"ShellExecuteEx failed" in stdout))

    def run(self, args, cwd=None, env=None, path=None, check=False, timeout=None):
        command, env = self.command(args, env, path)
        for _ in range(3):
            # Only stdout is the tool's report. Wine's background processes
            # hold on to a stderr pipe for seconds after the program has ended.
            result = run(command, cwd=cwd, env=env, timeout=timeout,
                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL)
            if not self.glitched(result.returncode, result.stdout):
                break
        if check:
            result.check_returncode()
        return result

    @staticmethod
    def windows_path(path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    @staticmethod
    def work_elsewhere(cwd):
        """The directory to run in for cmd to work in %SystemRoot%: Wine's
        cmd has no network-directory rule, so a stand-in takes its place."""
        shutil.copyfile(standin("cmd_elsewhere.exe"), os.path.join(cwd, "cmd.exe"))
        return cwd


class WindowsHost:
    """This Windows machine itself, as administrator. The tests refuse to start
    while anything the tool could remove is there, and remove only what they
    laid out."""

    LAUNCH_FAILURE = (2, "The system cannot find the file specified.")
    # Nothing here is the tests' own to tidy up after an earlier run.
    record = None
    device_record = None

    def __init__(self):
        if sys.maxsize < 2**32:
            raise RuntimeError("The end-to-end tests need a 64-bit Python: a 32-bit one sees "
                               "SysWOW64 where the tool sees System32.")
        self.windir = os.environ["WINDIR"]
        self.system32 = os.path.join(self.windir, "System32")
        self.program_files = os.environ["ProgramFiles"]

    def close(self):
        pass

    def settle(self):
        """A killed program's children end on their own here: nothing to wait for."""

    @staticmethod
    def glitched(exit_code, stdout):
        return False

    @staticmethod
    def command(args, env=None, path=None):
        env = dict(os.environ, **(env or {}))
        if path is not None:
            env["PATH"] = path
            # Would keep cmd from searching the current directory.
            env.pop("NODEFAULTCURRENTDIRECTORYINEXEPATH", None)
        return list(args), env

    def run(self, args, cwd=None, env=None, path=None, check=False, timeout=None):
        command, env = self.command(args, env, path)
        result = run(command, cwd=cwd, env=env, timeout=timeout, stdin=subprocess.DEVNULL,
                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        if check:
            result.check_returncode()
        return result

    windows_path = staticmethod(os.path.abspath)

    @staticmethod
    def work_elsewhere(cwd):
        """The directory through this machine's administrative share: cmd
        started there says "UNC paths are not supported" and works in
        %SystemRoot%."""
        drive, rest = os.path.splitdrive(os.path.abspath(cwd))
        share = "\\\\localhost\\" + drive.rstrip(":") + "$" + rest
        if not os.path.isdir(share):
            raise unittest.SkipTest(f"{share} cannot be reached: no administrative share")
        return share


Host = WindowsHost if os.name == "nt" else WineHost


def own_module_path(env, host):
    """`env` for Windows PowerShell, with its own module folders and never
    inherited ones: started from PowerShell 7 (through Python), it gets
    PowerShell 7's and then cannot load Get-FileHash or Get-Acl."""
    env = {name: value for name, value in env.items() if name.upper() != "PSMODULEPATH"}
    env["PSModulePath"] = ";".join(host.windows_path(modules) for modules in (
        os.path.join(host.program_files, "WindowsPowerShell", "Modules"),
        os.path.join(host.system32, "WindowsPowerShell", "v1.0", "Modules")))
    return env


class Harness:
    """Runs the tool on simulated machines laid out on this host, one at a
    time."""

    def __init__(self, exe=None, check_exe=None):
        self.exe = os.path.abspath(exe or os.environ["NK_EXE"])
        self.check_exe = os.path.abspath(check_exe or os.environ["NK_CHECK_EXE"])
        self.standins = {name: standin(name) for name in ("devcon.exe", "dism.exe")}
        self.devtree = standin("nkdevtree.exe")
        self.cmd_logged = standin("cmd_logged.exe")
        self.host = Host()
        self.scratch = tempfile.TemporaryDirectory(prefix="nk-e2e-")
        self.runs = 0
        self.kit_folders = []
        self.drivers_dir = os.path.join(self.host.system32, "drivers")
        self.laid_out_files, self.laid_out_views, self.laid_out_devices = [], set(), []
        self.elsewhere_listings = []
        if self.host.record:
            # The prefix outlives a test run: what an earlier one laid out goes.
            self.laid_out_files = _read_record(self.host.record)
            self.laid_out_devices = _read_record(self.host.device_record)
            self.laid_out_views = {"32", "64"}
            self._clear()
        self._refuse_a_touched_machine()
        self.driver_files_before = set(os.listdir(self.drivers_dir))

    def close(self):
        self._clear()
        self.scratch.cleanup()
        for folder in self.kit_folders:
            shutil.rmtree(folder, ignore_errors=True)
        self.host.close()

    def _refuse_a_touched_machine(self):
        """Raises unless the machine lacks everything the tool could remove."""
        found = [f"{PARENT_KEY} (/reg:{view})" for view in ("32", "64")
                 if self.host.run(["reg", "query", PARENT_KEY, f"/reg:{view}"]).returncode == 0]
        # dir matches as the tool's del does, short names and case included.
        listed = self.host.run(["cmd", "/C", "dir /b /a:-d " + " ".join(
            f"%WINDIR%\\system32\\drivers\\{pattern}" for pattern in DELETABLE_DRIVER_FILES)])
        found += [os.path.join(self.drivers_dir, name)
                  for name in listed.stdout.decode("latin-1").splitlines() if name]
        if found:
            raise RuntimeError("Not a machine to simulate on: the end-to-end tests lay out and "
                               "remove these themselves, yet they are already there (remove them "
                               "by hand if an interrupted run left them): " + ", ".join(found))

    def _record(self):
        if self.host.record:
            with open(self.host.record, "w") as record:
                record.write("\n".join(self.laid_out_files))
        if self.host.device_record:
            with open(self.host.device_record, "w", encoding="utf-8") as record:
                record.write("\n".join(self.laid_out_devices))

    def _devtree(self, *args):
        result = self.host.run([self.devtree, *args])
        if result.returncode not in (0, 2):
            raise RuntimeError(f"nkdevtree {' '.join(args)} failed with {result.returncode}")
        return result

    def _devtree_file(self, name, lines):
        path = os.path.join(self.scratch.name, name)
        with open(path, "w", encoding="utf-8", newline="") as out:
            out.writelines(lines)
        return self.host.windows_path(path)

    def _clear(self):
        """Removes what was laid out, and the listings that cmd working
        elsewhere left in %SystemRoot%; nothing else."""
        for name in self.elsewhere_listings:
            if os.path.exists(os.path.join(self.host.windir, name)):
                os.remove(os.path.join(self.host.windir, name))
        self.elsewhere_listings = []
        if self.laid_out_devices:
            self._devtree("remove", self._devtree_file(
                "remove.txt", (devtree_field(i) + "\n" for i in self.laid_out_devices)))
            self.laid_out_devices = []
        for name in self.laid_out_files:
            path = os.path.join(self.drivers_dir, name)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            elif os.path.lexists(path):
                os.remove(path)
        self.laid_out_files = []
        self._record()
        if self.laid_out_views:
            # reg import's "[-key]" ignores the view: delete with reg itself.
            for view in sorted(self.laid_out_views):
                self._reg("delete", PARENT_KEY, f"/reg:{view}", "/f")
            self.laid_out_views = set()

    def lay_out(self, machine):
        """Makes the host hold `machine` instead of the one before; returns the
        run's directory."""
        self._clear()
        self.runs += 1
        run_dir = os.path.join(self.scratch.name, f"run{self.runs}")
        sim, cwd = os.path.join(run_dir, "machine"), os.path.join(run_dir, "cwd")
        for directory in (sim, cwd, os.path.join(run_dir, "path")):
            os.makedirs(directory)
        self.run_cwd = cwd
        if machine.cmd_elsewhere:
            there = [name for name in LISTING_FILES + CHECK_LISTING_FILES
                     if os.path.exists(os.path.join(self.host.windir, name))]
            if there:
                raise RuntimeError(f"Not a machine to simulate on: {self.host.windir} holds "
                                   f"{', '.join(there)}, which a run here would write")
            self.run_cwd = self.host.work_elsewhere(cwd)
            self.elsewhere_listings = list(LISTING_FILES + CHECK_LISTING_FILES)

        with open(os.path.join(sim, "drivers.txt"), "wb") as out:
            out.writelines(b"\t".join(row) + b"\n" for row in machine.drivers)
        with open(os.path.join(sim, "codes.txt"), "wb") as out:
            out.writelines(k + b"\t" + (c if isinstance(c, bytes) else str(c).encode()) + b"\n"
                           for k, c in machine.codes.items())
        for name, data in machine.listings.items():
            with open(os.path.join(sim, name + ".txt"), "wb") as out:
                out.write(data)

        # cmd working elsewhere finds them on the PATH only.
        standins = os.path.join(run_dir, "path") if machine.cmd_elsewhere else cwd
        for name, source in self.standins.items():
            if machine.devcon if name == "devcon.exe" else machine.dism:
                shutil.copyfile(source, os.path.join(standins, name))
        if machine.cmd_logged:
            if machine.cmd_elsewhere:
                raise ValueError("one cmd stand-in at a time")
            shutil.copyfile(self.cmd_logged, os.path.join(cwd, "cmd.exe"))
        for name, data in machine.cwd_files.items():
            with open(os.path.join(cwd, name), "wb") as out:
                out.write(data)

        for name in machine.driver_files + list(machine.driver_folders):
            if os.path.lexists(os.path.join(self.drivers_dir, name)):
                raise RuntimeError(f"{os.path.join(self.drivers_dir, name)} is the machine's "
                                   "own: not laying a file out over it")
        self.laid_out_files = machine.driver_files + list(machine.driver_folders)
        # Recorded first, so that an interrupted run's nodes go the next time.
        self.laid_out_devices = [as_text(d.instance_id) for d in machine.devices]
        self._record()
        for name in machine.driver_files:
            with open(os.path.join(self.drivers_dir, name), "wb") as out:
                out.write(b"MZ")
        for name, inside in machine.driver_folders.items():
            os.makedirs(os.path.join(self.drivers_dir, name))
            for inner in inside:
                with open(os.path.join(self.drivers_dir, name, inner), "wb") as out:
                    out.write(b"MZ")
        for name in machine.hidden_system_files:
            self.host.run(["attrib", "+H", "+S", self.host.windows_path(
                os.path.join(self.drivers_dir, name))], check=True)
        if machine.devices:
            added = self._devtree("add", self._devtree_file(
                "add.txt", (d.record() for d in machine.devices)))
            if added.returncode == 2:  # it made none
                self.laid_out_devices = []
                self._record()
                raise RuntimeError(
                    "Not a machine to simulate on: these device nodes are already there and the "
                    "tests did not lay them out (remove them by hand if they are no use): "
                    + ", ".join(line.partition("\t")[2] for line in
                                added.stdout.decode("utf-8").splitlines()))

        for view, key in (("32", machine.registry32), ("64", machine.registry64)):
            if key is not None:
                reg_file = os.path.join(sim, f"registry{view}.reg")
                with open(reg_file, "w", newline="") as out:
                    out.write(_reg_file(key))
                self.laid_out_views.add(view)
                if self._reg("import", self.host.windows_path(reg_file), f"/reg:{view}") is None:
                    raise RuntimeError(f"reg import {reg_file} /reg:{view} failed")
        return run_dir

    def registry(self):
        """Both views of the parent key, read through the host's reg."""
        return tuple(_parse_reg_query((self._reg("query", PARENT_KEY, "/s", f"/reg:{view}")
                                       or b"").decode("latin-1")) for view in ("32", "64"))

    def _reg(self, *args):
        """Runs the host's reg: its output when it did as asked, None when
        the key is not there. One reg per call, not several in one cmd, where
        a program that fails to start would go unseen."""
        result = self.host.run(["reg", *args])
        if result.returncode == 0:
            return result.stdout
        # Windows' reg says so on stderr, Wine's on stdout.
        if result.returncode == 1 and (not result.stdout.strip()
                                       or b"Unable to find" in result.stdout):
            return None
        raise RuntimeError(f"reg {' '.join(args)} failed with {result.returncode}: "
                           f"{result.stdout[:400]!r}")

    def devices_left(self, machine):
        """The machine's instance IDs still in the host's device tree."""
        listed = self._devtree("list").stdout.decode("utf-8").upper().splitlines()
        return [d.instance_id for d in machine.devices if as_text(d.instance_id).upper() in listed]

    def _tool(self, run_dir, args, exe=None):
        """What runs the tool on the machine laid out in `run_dir`."""
        sim = os.path.join(run_dir, "machine")
        return self.host.command([exe or self.exe, *args],
                                 env={"NKSIM": self.host.windows_path(sim)},
                                 path=self.host.windows_path(os.path.join(run_dir, "path")))

    def _state(self, machine, run_dir, **run):
        """What the machine holds now, with what a run printed."""
        sim, cwd = os.path.join(run_dir, "machine"), os.path.join(run_dir, "cwd")
        left = set(os.listdir(self.drivers_dir))
        missing = self.driver_files_before - left
        assert not missing, f"driver files the tests did not lay out went: {sorted(missing)}"
        registry32, registry64 = self.registry()
        return Outcome(
            **dict(dict(stdout=b"", exit_code=None, calls=[]), **run),
            registry32=registry32,
            registry64=registry64,
            driver_files=self._driver_entries(left - self.driver_files_before),
            listings={name: read(os.path.join(cwd, name)) for name in LISTING_FILES},
            devices=self.devices_left(machine),
            drivers=[line.split(b"\t")[0]
                     for line in read(os.path.join(sim, "drivers.txt")).splitlines()],
        )

    def _driver_entries(self, names):
        entries = []
        for name in names:
            path = os.path.join(self.drivers_dir, name)
            if os.path.isdir(path) and not os.path.islink(path):
                entries += [name + "\\"] + [name + "\\" + inner for inner in os.listdir(path)]
            else:
                entries.append(name)
        return sorted(entries)

    def _run_once(self, machine, run_dir, exe, args=()):
        sim = os.path.join(run_dir, "machine")
        log = os.path.join(sim, "calls.log")
        logged = len(read(log) or b"")
        command, env = self._tool(run_dir, args, exe)
        # A file, not a pipe: Wine's background processes hold a pipe open.
        stderr_path = os.path.join(run_dir, "stderr.txt")
        with open(stderr_path, "wb") as stderr:
            result = run(command, cwd=self.run_cwd, env=env, timeout=RUN_TIMEOUT,
                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=stderr)
        return self._state(machine, run_dir, stdout=result.stdout, exit_code=result.returncode,
                           stderr=read(stderr_path),
                           calls=(read(log) or b"")[logged:].split(b"\n")[:-1])

    def run(self, machine, args=()):
        """Lays out `machine` and, in one fresh current directory, runs the
        check, the tool and the check again; returns the tool's outcome with
        the checks' attached. When the host failed one of the three runs, all
        is done again on a fresh lay-out."""
        for _ in range(3):
            outcome = self._run_laid_out(machine, args)
            if not any(self.host.glitched(run.exit_code, run.stdout)
                       for run in (outcome.before, outcome, outcome.after)):
                break
        return outcome

    def _run_laid_out(self, machine, args):
        run_dir = self.lay_out(machine)
        laid_out = self._state(machine, run_dir)
        asked = tuple(_as_read(key) for key in (machine.registry32, machine.registry64))
        if (laid_out.registry32, laid_out.registry64) != asked:
            raise RuntimeError(f"The host's registry took {asked} as "
                               f"{(laid_out.registry32, laid_out.registry64)}")
        before = self._run_once(machine, run_dir, self.check_exe)
        outcome = self._run_once(machine, run_dir, self.exe, args)
        after = self._run_once(machine, run_dir, self.check_exe)
        outcome.laid_out, outcome.before, outcome.after = laid_out, before, after
        return outcome

    def run_install(self, machine, script):
        """Lays out `machine` and runs the fleet kit's install script on it as a
        deployment system would: Windows PowerShell, from a kit folder holding
        the tool, the check, SHA256SUMS and devcon, into a folder of its own.
        Returns the script's result and the folder's Logs directory."""
        run_dir = self.lay_out(machine)
        command, env, folder = self.install_command(run_dir, script)
        result = run(command, cwd=run_dir, env=env, timeout=3 * RUN_TIMEOUT,
                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return result, os.path.join(folder, "Logs")

    def install_folder(self, run_dir):
        """The kit's folder for the run in `run_dir`: in Program Files, since the
        install refuses one under a folder that others may write to."""
        return os.path.join(self.host.program_files,
                            f"NakoraCleanup-e2e-{os.getpid()}-{os.path.basename(run_dir)}")

    def install_command(self, run_dir, script, folder=None, extra=()):
        """Stages the kit in `run_dir`; returns the command line and environment
        that start the install script there, into `folder` (install_folder's
        unless given; removed by close) with the `extra` arguments, and that folder."""
        kit, folder = os.path.join(run_dir, "kit"), folder or self.install_folder(run_dir)
        self.kit_folders.append(folder)
        os.makedirs(kit)
        with open(os.path.join(kit, "SHA256SUMS"), "w", newline="\r\n") as sums:
            for name, source in (("CleanupNakoraDrivers.exe", self.exe),
                                 ("CheckNakoraDrivers.exe", self.check_exe)):
                shutil.copyfile(source, os.path.join(kit, name))
                sums.write(f"{hashlib.sha256(read(source)).hexdigest()}  {name}\n")
        shutil.copyfile(self.standins["devcon.exe"], os.path.join(kit, "devcon.exe"))
        shutil.copyfile(script, os.path.join(kit, os.path.basename(script)))
        # Nothing but the kit may be in the folder: dism comes from the PATH,
        # before the system's own.
        path = os.path.join(run_dir, "path")
        shutil.copyfile(self.standins["dism.exe"], os.path.join(path, "dism.exe"))
        powershell = os.path.join(self.host.system32, "WindowsPowerShell", "v1.0")
        command, env = self.host.command(
            [os.path.join(powershell, "powershell.exe"), "-NoProfile", "-NonInteractive",
             "-ExecutionPolicy", "Bypass", "-File", os.path.join(kit, os.path.basename(script)),
             "-Folder", folder, "-TimeoutMinutes", "5",
             # The stand-in devcon carries no signature: the administrator's hash stands for it.
             "-DevconSha256", hashlib.sha256(read(self.standins["devcon.exe"])).hexdigest(),
             *extra],
            env={"NKSIM": self.host.windows_path(os.path.join(run_dir, "machine"))},
            path=";".join((path, self.host.system32, powershell)))
        return command, own_module_path(env, self.host), folder

    def run_killed_at_hang(self, machine):
        """Lays out `machine`, one removal of which devcon hangs on, and runs
        the tool with its output going to a file (as "> report.txt" would).
        Once devcon hangs, kills the tool as a deployment system's time limit
        would, lets devcon go and returns what the file then holds."""
        run_dir = self.lay_out(machine)
        sim, cwd = os.path.join(run_dir, "machine"), os.path.join(run_dir, "cwd")
        hanging = os.path.join(sim, "hanging")
        command, env = self._tool(run_dir, ())
        with open(os.path.join(run_dir, "report.txt"), "wb") as out:
            tool = subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + RUN_TIMEOUT
            while not os.path.exists(hanging):
                if tool.poll() is not None or time.monotonic() > deadline:
                    raise AssertionError("devcon did not hang")
                time.sleep(0.1)
        finally:
            tool.kill()
            tool.wait()
            with open(os.path.join(sim, "release"), "wb"):
                pass
            # The stand-in ends within a tenth of a second of the release.
            deadline = time.monotonic() + 30
            while os.path.exists(hanging) and time.monotonic() < deadline:
                time.sleep(0.1)
            # Nothing of the killed run may still be ending when the next starts.
            self.host.settle()
        return read(os.path.join(run_dir, "report.txt"))


def banner(exe, tool=b"Clean"):
    """The banner as the executable holds it, with the version filled in."""
    with open(exe, "rb") as f:
        data = f.read()
    start = data.index(b"Nakora Driver " + tool + b" Tool v%s (")
    end = data.index(b")\n", start) + 2
    return data[start:end].replace(b"%s", b"1.7").replace(b"\n", b"\r\n")
