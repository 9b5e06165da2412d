# Repair-NakoraDrivers.ps1: the remediation of Intune Remediations, paired with
# Test-NakoraDrivers.ps1 as the detection.
#
# A remediation package holds only scripts, so the kit must be staged in -Folder beforehand
# (Install-NakoraCleanup.ps1, as a Win32 app). This runs the staged Install-NakoraCleanup.ps1
# from there: the same folder check, hash check, time limit and Logs\ as any other run. Before
# that, it verifies the folder as the detection does, and holds the mutex Global\NakoraCleanup
# (waited for up to a minute). Run it as System; in 32-bit PowerShell on 64-bit Windows it runs
# itself again in the 64-bit one.
#
# Exit code: 0 when the install ended 0 or 3010, with its summary on standard output. Otherwise
# (refused, could not check, another run, time limit) 1, with the summary on standard error:
# Intune keeps a remediation's errors and shows it failed, but not its output
# (https://learn.microsoft.com/graph/api/resources/intune-devices-devicehealthscriptdevicestate).
#
# Time limit: -TimeoutMinutes for each of the install's three runs, 15 by default: with the
# wait, 46 minutes at most, within the 60 minutes a remediation may run. That figure comes from
# a third-party source only (IntuneScriptLab's rule IslLongSleep, from the agent's log:
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

function Complete-Repair([bool]$Done, [string]$Line) {
    if ($Done) {
        Write-Output $Line
        exit 0
    }
    Write-Failure $Line
    exit 1
}

if (Test-Wow64) {
    Start-Native64 @(Get-RelaunchArgument $PSBoundParameters)
    exit $LASTEXITCODE
}
$env:NoDefaultCurrentDirectoryInExePath = '1'
$lock = $null
try {
    $lock = Enter-RunLock $TimeoutMinutes
    if (-not $lock) { Complete-Repair $false 'Nakora clean-up not run: another run is in progress' }
    $install = Join-Path $Folder 'Install-NakoraCleanup.ps1'
    if (-not (Test-Path -LiteralPath $install -PathType Leaf)) {
        Complete-Repair $false "Nakora clean-up not run: $install is missing (stage the kit first)"
    }
    $problem = Get-KitProblem $Folder
    if ($problem) { Complete-Repair $false "Nakora clean-up not run: $problem" }
    $lines = @(& $install -Folder $Folder -TimeoutMinutes $TimeoutMinutes)
    $code = $LASTEXITCODE
    $last = 'Nakora clean-up printed nothing'
    if ($lines.Count) { $last = $lines[-1] }
    Complete-Repair ($code -eq 0 -or $code -eq 3010) "$last (exit code $code)"
} catch {
    Complete-Repair $false "Nakora clean-up failed: $($_.Exception.Message)"
} finally {
    Exit-RunLock $lock
}
