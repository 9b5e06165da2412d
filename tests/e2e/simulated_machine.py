"""A simulated Windows machine in a Wine prefix, for running the real
CleanupNakoraDrivers.exe end to end.

The stand-ins for devcon and dism (tests/standins) read and change the machine
through the files of one directory, named by NKSIM (see machine_files.h); Wine's
own cmd, del and registry do the rest. The prefix is made once; every run
starts from a machine laid out anew.
"""

import dataclasses
import fcntl
import os
import shutil
import subprocess
import tempfile

PARENT_KEY = "HKEY_LOCAL_MACHINE\\Software\\Nakora"
LISTING_FILES = ("devicelist.txt", "audiodevicelist.txt", "driverlist.txt")

# What devcon receives when Wine's cmd runs a listing command: the blank before
# the redirection stays on.
FINDALL_DEVICES = b"devcon\tfindall *VID_E7A9* "
FINDALL_BRAND = b"devcon\tfindall *QVA* "
FINDALL_AUDIO = b"devcon\tfindall *MMDEVAPI* "
GET_DRIVERS = b"dism\t/online /get-drivers /format:table "
RESCAN = b"devcon\t rescan "


def padded(instance_id):
    """An instance ID as devcon's findall lists it, padded to 60 columns."""
    return instance_id.ljust(60)


def remove_call(instance_id):
    return b"devcon\t -f remove @" + instance_id


def dp_delete_call(published):
    return b"devcon\t -f /dp_delete " + published


def device_line(instance_id, description):
    """One line of devcon's findall listing."""
    return padded(instance_id) + b": " + description + b"\r\n"


@dataclasses.dataclass
class Machine:
    """What is installed before a run.

    devices: (instance ID, description) byte pairs, device nodes and audio
        endpoints alike; devcon's findall lists those whose ID matches.
    drivers: rows of the driver table (published name, original file name,
        inbox, class, provider, date, version).
    listings: verbatim listings instead: "findall <pattern without *>" or
        "dism table" mapped to the bytes the tool prints.
    codes: scripted exit codes by operation ("findall *QVA*", "remove <ID>",
        "dp_delete <name>", "rescan", "get-drivers"); others exit 0.
    registry32, registry64: the key HKLM\\Software\\Nakora in each view, as
        {relative key path: {value name: string}} with "" for the key itself;
        None leaves the key out.
    driver_files: names of files in %WINDIR%\\system32\\drivers.
    """

    devices: list = dataclasses.field(default_factory=list)
    drivers: list = dataclasses.field(default_factory=list)
    listings: dict = dataclasses.field(default_factory=dict)
    codes: dict = dataclasses.field(default_factory=dict)
    registry32: dict = None
    registry64: dict = None
    driver_files: list = dataclasses.field(default_factory=list)
    devcon: bool = True
    dism: bool = True


@dataclasses.dataclass
class Outcome:
    stdout: bytes
    exit_code: int
    calls: list  # b"<program>\t<parameter text>", in order
    registry32: dict
    registry64: dict
    driver_files: list  # files in the drivers directory that Wine did not put there
    listings: dict  # listing file name -> bytes, None when absent
    devices: list  # device IDs still present
    drivers: list  # published names still present


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


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


def _parse_reg_query(text):
    """reg query /s output -> {relative key path: {value name: data}}."""
    keys = {}
    current = None
    for line in text.splitlines():
        if line.startswith(PARENT_KEY):
            current = keys.setdefault(line[len(PARENT_KEY) :].lstrip("\\"), {})
        elif line.startswith("    ") and current is not None:
            name, _, data = line[4:].split("    ", 2)
            current[name] = data
    return keys


class Prefix:
    """The Wine prefix named by WINEPREFIX, made on first use."""

    def __init__(self, wine_run=None, exe=None, devcon=None, dism=None):
        self.wine_run = wine_run or os.environ["NK_WINE_RUN"]
        self.exe = exe or os.environ["NK_EXE"]
        self.standins = {"devcon.exe": devcon or os.environ["NK_DEVCON"],
                         "dism.exe": dism or os.environ["NK_DISM"]}
        self.path = os.environ["WINEPREFIX"]
        # One machine, one run at a time, also across separate ctest runs.
        os.makedirs(os.path.dirname(self.path), exist_ok=True)
        self.lock = open(self.path + ".machine-lock", "w")
        fcntl.flock(self.lock, fcntl.LOCK_EX)
        self.system32 = os.path.join(self.path, "drive_c", "windows", "system32")
        self.drivers_dir = os.path.join(self.system32, "drivers")
        self.wine(["cmd", "/C", "exit"], check=True)
        # The prefix outlives a test run: forget the driver files an earlier
        # run laid out, so that the rest are Wine's own.
        self.laid_out_record = os.path.join(self.path, "nk-e2e-driver-files")
        if os.path.exists(self.laid_out_record):
            with open(self.laid_out_record) as record:
                for name in record.read().split("\n"):
                    if name and os.path.exists(os.path.join(self.drivers_dir, name)):
                        os.remove(os.path.join(self.drivers_dir, name))
        self.wine_driver_files = set(os.listdir(self.drivers_dir))
        self.scratch = tempfile.TemporaryDirectory(prefix="nk-e2e-")
        self.runs = 0

    def close(self):
        self.scratch.cleanup()
        self.lock.close()

    def wine(self, args, cwd=None, env=None, check=False):
        # Only stdout is the tool's report. Wine's background processes hold
        # on to a stderr pipe for seconds after the program has ended.
        return subprocess.run([self.wine_run, *args], cwd=cwd, env=env, check=check,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL)

    def lay_out(self, machine):
        """Makes the prefix hold `machine`; returns its NKSIM directory."""
        self.runs += 1
        run_dir = os.path.join(self.scratch.name, f"run{self.runs}")
        sim = os.path.join(run_dir, "machine")
        os.makedirs(sim)
        os.makedirs(os.path.join(run_dir, "cwd"))

        with open(os.path.join(sim, "devices.txt"), "wb") as out:
            out.writelines(i + b"\t" + d + b"\n" for i, d in machine.devices)
        with open(os.path.join(sim, "drivers.txt"), "wb") as out:
            out.writelines(b"\t".join(row) + b"\n" for row in machine.drivers)
        with open(os.path.join(sim, "codes.txt"), "wb") as out:
            out.writelines(k + b"\t" + str(c).encode() + b"\n" for k, c in machine.codes.items())
        for name, data in machine.listings.items():
            with open(os.path.join(sim, name + ".txt"), "wb") as out:
                out.write(data)

        for name, source in self.standins.items():
            target = os.path.join(self.system32, name)
            if os.path.lexists(target):
                os.remove(target)
            if machine.devcon if name == "devcon.exe" else machine.dism:
                shutil.copyfile(source, target)

        for name in set(os.listdir(self.drivers_dir)) - self.wine_driver_files:
            os.remove(os.path.join(self.drivers_dir, name))
        with open(self.laid_out_record, "w") as record:
            record.write("\n".join(machine.driver_files))
        for name in machine.driver_files:
            with open(os.path.join(self.drivers_dir, name), "wb") as out:
                out.write(b"MZ")

        # reg import's "[-key]" ignores the view: delete with reg itself.
        deletes, imports = [], []
        for view, key in (("32", machine.registry32), ("64", machine.registry64)):
            deletes.append(f"reg delete {PARENT_KEY} /reg:{view} /f >nul 2>&1")
            if key is not None:
                with open(os.path.join(sim, f"registry{view}.reg"), "w", newline="") as out:
                    out.write(_reg_file(key))
                imports.append(f"reg import registry{view}.reg /reg:{view}")
        command = " & ".join(deletes) + (" & (" + " && ".join(imports) + ")" if imports else "")
        self.wine(["cmd", "/C", command], cwd=sim, check=bool(imports))
        return run_dir

    def registry(self):
        """Both views of the parent key, read through Wine's reg."""
        result = self.wine(["cmd", "/C", f"reg query {PARENT_KEY} /s /reg:32 & echo ---- & "
                            f"reg query {PARENT_KEY} /s /reg:64"])
        text32, _, text64 = result.stdout.decode("latin-1").partition("---- ")
        return _parse_reg_query(text32), _parse_reg_query(text64)

    def run(self, machine, args=()):
        """Lays out `machine`, runs the tool in a fresh current directory and
        collects what it printed and what it left behind."""
        run_dir = self.lay_out(machine)
        sim, cwd = os.path.join(run_dir, "machine"), os.path.join(run_dir, "cwd")
        env = dict(os.environ, NKSIM=windows_path(sim))
        result = self.wine([self.exe, *args], cwd=cwd, env=env)

        def read(path):
            try:
                with open(path, "rb") as f:
                    return f.read()
            except FileNotFoundError:
                return None

        def first_fields(name):
            return [line.split(b"\t")[0] for line in read(os.path.join(sim, name)).splitlines()]

        left = set(os.listdir(self.drivers_dir))
        missing = self.wine_driver_files - left
        assert not missing, f"Wine's own driver files went: {sorted(missing)}"
        registry32, registry64 = self.registry()
        return Outcome(
            stdout=result.stdout,
            exit_code=result.returncode,
            calls=(read(os.path.join(sim, "calls.log")) or b"").split(b"\n")[:-1],
            registry32=registry32,
            registry64=registry64,
            driver_files=sorted(left - self.wine_driver_files),
            listings={name: read(os.path.join(cwd, name)) for name in LISTING_FILES},
            devices=first_fields("devices.txt"),
            drivers=first_fields("drivers.txt"),
        )


def banner(exe):
    """The banner as the executable holds it, with the version filled in."""
    with open(exe, "rb") as f:
        data = f.read()
    start = data.index(b"Nakora Driver Clean Tool v%s (")
    end = data.index(b")\n", start) + 2
    return data[start:end].replace(b"%s", b"1.7").replace(b"\n", b"\r\n")
