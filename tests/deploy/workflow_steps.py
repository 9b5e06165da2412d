"""Prints, as JSON, every PowerShell `run:` step of the given GitHub workflows.

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


if __name__ == "__main__":
    json.dump([s for path in sys.argv[1:] for s in powershell_steps(path)], sys.stdout, indent=1)
