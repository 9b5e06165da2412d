# Repair-NakoraDrivers.ps1: the remediation of Intune Remediations, paired with
# Test-NakoraDrivers.ps1 as the detection.
#
# A remediation package holds only scripts, so the kit must be staged in -Folder beforehand
# (Install-NakoraCleanup.ps1, as a Win32 app). This runs the staged Install-NakoraCleanup.ps1
# from there: the same folder check, hash check, time limit and Logs\ as any other run. Before
# that, it verifies the folder as the detection does, under the lock the scripts share (the
# file run.lock in the folder, waited for up to a minute), which it lets go for the install to
# take. Run it as System; in 32-bit PowerShell on 64-bit Windows it runs itself again in the
# 64-bit one. Its summary line and exit code also go to the Application event log and to
# Logs\NakoraCleanup.log, as the install's do.
#
# Exit code: 0 when the install ended 0 or 3010, with its summary on standard output. Otherwise
# 1618 when another run is in progress, else 1 (refused, could not check, time limit), with the
# summary on standard error: Intune keeps a remediation's errors and shows it failed, but not
# its output
# (https://learn.microsoft.com/graph/api/resources/intune-devices-devicehealthscriptdevicestate).
#
# Time limit: -TimeoutMinutes for each of the install's three runs, 15 by default: with the
# two waits, 47 minutes at most, within the 60 minutes a remediation may run. That figure
# comes from a third-party source only (IntuneScriptLab's rule IslLongSleep, from the agent's log:
# https://www.powershellgallery.com/packages/IntuneScriptLab/0.26.0/Content/Private%5CRules%5CFind-IslLongSleep.ps1);
# Microsoft's pages give none. The install stops a tool past its limit itself: an agent that
# kills PowerShell leaves the tools running.
[CmdletBinding()]
param(
    [string]$Folder = "$(if ($env:ProgramW6432) { $env:ProgramW6432 } else { $env:ProgramFiles })\NakoraCleanup",
    [double]$TimeoutMinutes = 15
)
Set-StrictMode -Version Latest
$ErrorActionPreference = 'Stop'

# @include Common.ps1

function Complete-Repair([int]$Code, [string]$Line) {
    Write-Trace $Code $Line
    if (-not $Code) {
        Write-Output $Line
        exit 0
    }
    Write-Failure $Line
    exit $Code
}

Exit-If32Bit $PSBoundParameters
$env:NoDefaultCurrentDirectoryInExePath = '1'
$lock = $null
try {
    $Folder = Get-FullFolder $Folder
    $entry = Enter-Kit $Folder $TimeoutMinutes
    $lock = $entry.Lock
    if ($entry.Problem) { Complete-Repair $entry.Code "Nakora clean-up not run: $($entry.Problem)" }
    $install = Join-Path $Folder 'Install-NakoraCleanup.ps1'
    if (-not (Test-Path -LiteralPath $install -PathType Leaf)) {
        Complete-Repair 1 "Nakora clean-up not run: $install is missing (stage the kit first)"
    }
    $problem = Get-KitProblem $Folder
    if ($problem) { Complete-Repair 1 "Nakora clean-up not run: $problem" }
    # The staged install takes the lock itself.
    Exit-RunLock $lock
    $lock = $null
    $lines = @(& $install -Folder $Folder -TimeoutMinutes $TimeoutMinutes)
    $code = $LASTEXITCODE
    $last = 'Nakora clean-up printed nothing'
    if ($lines.Count) { $last = $lines[-1] }
    if ($code -eq 3010) { $code = 0 }
    if ($code -ne 0 -and $code -ne 1618) { $code = 1 }
    Complete-Repair $code "$last (exit code $LASTEXITCODE)"
} catch {
    Complete-Repair 1 "Nakora clean-up failed: $($_.Exception.Message)"
} finally {
    Exit-RunLock $lock
}
