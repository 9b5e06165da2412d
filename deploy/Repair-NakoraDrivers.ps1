# Repair-NakoraDrivers.ps1: the remediation of Intune Remediations, paired with
# Test-NakoraDrivers.ps1 as the detection.
#
# A remediation package holds only scripts, so the kit must be staged in -Folder beforehand
# (Install-NakoraCleanup.ps1, as a Win32 app). This runs the staged Install-NakoraCleanup.ps1
# from there: the same folder check, hash check, time limit and Logs\ as any other run.
# Run it as System in 64-bit PowerShell.
#
# Exit code: always 0. Intune runs the detection again after the remediation and shows that
# output; this script's output is not shown, so the install's summary line and Logs\ are
# where this run is recorded:
# https://learn.microsoft.com/mem/intune/fundamentals/remediations
[CmdletBinding()]
param(
    [string]$Folder = "$env:ProgramData\NakoraCleanup",
    [double]$TimeoutMinutes = 30
)
Set-StrictMode -Version Latest
$ErrorActionPreference = 'Stop'

$install = Join-Path $Folder 'Install-NakoraCleanup.ps1'
if (-not (Test-Path -LiteralPath $install -PathType Leaf)) {
    Write-Output "Nakora clean-up not run: $install is missing (stage the kit first)"
    exit 0
}
try {
    $lines = @(& $install -Folder $Folder -TimeoutMinutes $TimeoutMinutes)
    $code = $LASTEXITCODE
    $last = 'Nakora clean-up printed nothing'
    if ($lines.Count) { $last = $lines[-1] }
    Write-Output "$last (exit code $code)"
} catch {
    Write-Output "Nakora clean-up failed: $($_.Exception.Message)"
}
exit 0
