"""Prints, as JSON, every PowerShell `run:` step of the given GitHub workflows
("steps"), what is wrong with the shape of their Windows jobs and their action
pins ("problems"), and the PowerShell that the given Python tests hand Windows
PowerShell through encoded() ("scripts").

A step is PowerShell when its own `shell:`, its job's or the workflow's
`defaults.run.shell` says pwsh or powershell, or, with none of them, when its job
runs on Windows, where pwsh is GitHub's default shell. `${{ ... }}` expressions,
which GitHub replaces before the shell sees the script, become a plain word.
"""

import ast
import json
import re
import sys

import yaml


def powershell_steps(path):
    with open(path, encoding="utf-8") as f:
        workflow = yaml.safe_load(f)
    default = (workflow.get("defaults") or {}).get("run", {}).get("shell")
    for job_name, job in (workflow.get("jobs") or {}).items():
        job_default = (job.get("defaults") or {}).get("run", {}).get("shell", default)
        if job_default is None and "windows" in str(job.get("runs-on", "")):
            job_default = "pwsh"
        for number, step in enumerate(job.get("steps") or [], 1):
            shell = step.get("shell", job_default)
            if "run" in step and shell in ("pwsh", "powershell"):
                yield {
                    "where": f"{path}: job {job_name}, step {number} ({step.get('name', '')})",
                    "shell": shell,
                    "script": re.sub(r"\$\{\{.*?\}\}", "expression", step["run"]),
                }


# Steps whose failure must not keep the packaged executable from its end-to-end
# run: the whole MSVC build (the stand-ins alone may come before), its tests,
# and the Pester suite.
MSVC_OR_PESTER = re.compile(r"--build --preset msvc(?!.*--target)|ctest|pe_resources|"
                            r"tests/deploy/run\.ps1")


def encoded_scripts(path):
    """Each module-level string constant of a Python test that it passes by name
    to encoded(), for -EncodedCommand."""
    with open(path, encoding="utf-8") as f:
        tree = ast.parse(f.read())
    constants = {target.id: node.value.value for node in tree.body
                 if isinstance(node, ast.Assign) and isinstance(node.value, ast.Constant)
                 for target in node.targets if isinstance(target, ast.Name)}
    for node in ast.walk(tree):
        if (isinstance(node, ast.Call) and getattr(node.func, "id", None) == "encoded"
                and node.args and isinstance(node.args[0], ast.Name)
                and isinstance(constants.get(node.args[0].id), str)):
            yield {"where": f"{path}: {node.args[0].id}", "shell": "powershell",
                   "script": constants[node.args[0].id]}


# The first major of each that runs on Node 24, which the runners now use: its
# action.yml says node24. An earlier one that "supports" Node 24 still runs on
# Node 20 (actions/upload-artifact#745).
NODE24_MAJOR = {"actions/checkout": 5, "actions/setup-dotnet": 5, "actions/upload-artifact": 6,
                "actions/download-artifact": 7}
USES = re.compile(r"^\s*(?:-\s+)?uses:\s*([\w.-]+/[\w./-]+)@(\S+)(?:\s+#\s*v(\d+)\S*)?")
# Steps that may hang on Windows: without a limit of their own, a hang cancels the
# job, and the steps after them never run.
HANGS = re.compile(r"e2e_frame|e2e_scenarios|device_node_probe")


def pin_problems(path):
    """Actions not pinned to a commit, or pinned to a release that runs on Node 20."""
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            match = USES.match(line)
            if not match:
                continue
            action, ref, major = match.groups()
            if not re.fullmatch(r"[0-9a-f]{40}", ref):
                yield f"{path}, line {number}: {action}@{ref} is not pinned to a commit"
            elif action in NODE24_MAJOR and (major is None or int(major) < NODE24_MAJOR[action]):
                release = line.partition("#")[2].strip() or "(no release named)"
                yield (f"{path}, line {number}: {action} {release} runs on Node 20; "
                       f"v{NODE24_MAJOR[action]} is the first on Node 24")


def shape_problems(path):
    with open(path, encoding="utf-8") as f:
        jobs = yaml.safe_load(f).get("jobs") or {}

    def exe(job, step):
        return str({**(job.get("env") or {}), **(step.get("env") or {})}.get("NK_EXE", ""))

    def behind(job_name):
        """The jobs that `job_name` waits for, to the first."""
        needs = jobs[job_name].get("needs") or []
        for name in [needs] if isinstance(needs, str) else needs:
            yield name
            yield from behind(name)

    problems = []
    for step in powershell_steps(path):
        for line in step["script"].splitlines():
            if "Install-PackageProvider" in line and not re.match(r"\s*if\s*\(", line):
                problems.append(f"{step['where']}: the NuGet provider is installed even when "
                                "present (the image has it)")
    packaged, checked = False, False
    for name, job in jobs.items():
        if "windows" in str(job.get("runs-on", "")) and job.get("runs-on") != "windows-2022":
            problems.append(f"{path}: job {name} runs on {job.get('runs-on')}, not windows-2022, "
                            "which has Visual Studio 2022")
        steps = job.get("steps") or []
        for number, step in enumerate(steps):
            run = str(step.get("run", ""))
            if HANGS.search(run) and "timeout-minutes" not in step:
                problems.append(f"{path}: job {name}, step {number + 1}: no timeout-minutes, so "
                                "a hang cancels the job and the steps after it")
            checked |= "pe_resources" in run and "\\build\\msvc\\" in exe(job, step)
            if "e2e_scenarios" not in run or "\\build\\package\\" not in exe(job, step):
                continue
            packaged = True
            before = steps[:number] + [s for j in behind(name) for s in jobs[j].get("steps") or []]
            waits = any(MSVC_OR_PESTER.search(str(s.get("run", ""))) for s in before)
            if waits and "!cancelled()" not in str(step.get("if", "")):
                problems.append(f"{path}: job {name}, step {number + 1}: the packaged executable's "
                                "end-to-end run waits on the MSVC build, its tests or Pester")
    if not packaged:
        problems.append(f"{path}: no end-to-end run of the packaged executable")
    if not checked:
        problems.append(f"{path}: pe_resources does not check the MSVC executables")
    return problems + list(pin_problems(path))


if __name__ == "__main__":
    workflows = [path for path in sys.argv[1:] if not path.endswith(".py")]
    json.dump({"steps": [s for path in workflows for s in powershell_steps(path)],
               "problems": [p for path in workflows for p in shape_problems(path)],
               "scripts": [s for path in sys.argv[1:] if path.endswith(".py")
                           for s in encoded_scripts(path)]},
              sys.stdout, indent=1)
