"""Prints, as JSON, every PowerShell `run:` step of the given GitHub workflows
("steps"), and what is wrong with the shape of their Windows jobs ("problems").

A step is PowerShell when its own `shell:`, its job's or the workflow's
`defaults.run.shell` says pwsh or powershell, or, with none of them, when its job
runs on Windows, where pwsh is GitHub's default shell. `${{ ... }}` expressions,
which GitHub replaces before the shell sees the script, become a plain word.
"""

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
    return problems


if __name__ == "__main__":
    json.dump({"steps": [s for path in sys.argv[1:] for s in powershell_steps(path)],
               "problems": [p for path in sys.argv[1:] for p in shape_problems(path)]},
              sys.stdout, indent=1)
