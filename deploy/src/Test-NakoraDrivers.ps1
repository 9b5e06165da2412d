# Test-NakoraDrivers.ps1: detection, through the check staged by Install-NakoraCleanup.ps1.
#
# Runs CheckNakoraDrivers.exe from -Folder and writes exactly one line: the check's summary,
# or why it could not check. A machine is clean only when the check ran, exited 0 and printed
# its summary line. Nothing runs unless the folder and every folder above it are admin-only,
# everything in it and in Logs is the kit's, owned by Administrators or System, changeable by
# nobody else and no link, and devcon.exe matches the hash the install recorded; else, a
# missing folder, check or devcon.exe, or another run in progress (the file run.lock in the
# folder, held open; waited for up to a minute) is "could not check", never clean. Each run's
# line also goes to the Application event log and to Logs\NakoraCleanup.log. Run it as
# System; in 32-bit PowerShell on 64-bit Windows it runs itself again in the 64-bit one.
# -For says which system reads the result:
#
#   Remediations (default)  Intune Remediations detection: exit 0 clean; exit 1 otherwise,
#                           so that the remediation runs. Intune runs it only after exit 1:
#                           https://learn.microsoft.com/mem/intune/fundamentals/remediations
#   Win32App                Intune Win32 app custom detection rule: "detected" is exit 0 with
#                           output, anything else is not detected:
#                           https://learn.microsoft.com/mem/intune/apps/apps-win32-add
#                           As Remediations, but also detected (exit 0, a line saying a restart
#                           is pending) when the install's last run ended 3010 since the last
#                           restart: the app then waits for the restart instead of failing.
#   ConfigMgrApplication    Configuration Manager application detection method: exit 0 with
#                           the summary when clean (installed); exit 0 with no output at all
#                           otherwise (not installed); a non-zero exit would be "unknown":
#                           https://learn.microsoft.com/mem/configmgr/apps/deploy-use/create-applications#about-custom-script-detection-methods
#   ConfigMgrSetting        Configuration Manager configuration item discovery (a string
#                           setting): always exit 0, since a non-zero exit is a discovery
#                           failure, and one line for the compliance rule to compare with
#                           "Nakora driver stack: none left":
#                           https://learn.microsoft.com/intune/configmgr/develop/compliance/about-compliance-settings--dcm--extensibility
#
# None of them writes to standard error, which Configuration Manager takes for a failure.
#
# Time limit: -TimeoutMinutes for the check, plus up to a minute's wait for another run; the
# script stops the check itself, since an agent that kills PowerShell at its own limit leaves
# the check and devcon running. Each system's limit, and the default each copy has:
#   Intune Remediations and Win32 app detection: 60 minutes, by a third-party source only
#     (IntuneScriptLab's rule IslLongSleep, from the agent's log:
#     https://www.powershellgallery.com/packages/IntuneScriptLab/0.26.0/Content/Private%5CRules%5CFind-IslLongSleep.ps1);
#     Microsoft's pages give none. Default 30 (this file, Detect-Win32App.ps1).
#   Configuration Manager: the client setting Compliance Settings, Script Execution Timeout,
#     60 seconds by default and 600 at most (https://learn.microsoft.com/mem/configmgr/core/clients/deploy/about-client-settings),
#     for configuration item scripts; Microsoft does not say so of application detection
#     scripts, which the kit holds to it all the same.
#     Default 8 (Detect-ConfigMgrApplication.ps1, Detect-ConfigMgrSetting.ps1), within 600
#     seconds with the wait; set the client setting to 600.
[CmdletBinding()]
param(
    [string]$Folder = "$(if ($env:ProgramW6432) { $env:ProgramW6432 } else { $env:ProgramFiles })\NakoraCleanup",
    [ValidateSet('Remediations', 'Win32App', 'ConfigMgrApplication', 'ConfigMgrSetting')]
    [string]$For = 'Remediations',
    [double]$TimeoutMinutes = 30
)
Set-StrictMode -Version Latest
$ErrorActionPreference = 'Stop'

# @include Common.ps1

# @include Tools.ps1

function Test-RestartPending([string]$LogDir) {
    $last = Get-LastResult $LogDir
    return $null -ne $last -and $last.Code -eq '3010' -and $last.Time -gt (Get-LastBootTime)
}

function Get-Verdict {
    # Under the lock: the check's verdict as Read-Check gives it, with LogDir.
    foreach ($name in @('CheckNakoraDrivers.exe', 'devcon.exe')) {
        if (-not (Test-Path -LiteralPath (Join-Path $Folder $name) -PathType Leaf)) {
            return @{ Code = $null; Line = "Nakora driver stack: could not check ($name is missing in $Folder)" }
        }
    }
    $problem = Get-KitProblem $Folder
    if ($problem) { return @{ Code = $null; Line = "Nakora driver stack: could not check ($problem)" } }
    $env:PATH = $Folder + [System.IO.Path]::PathSeparator + $env:PATH
    $logDir = Join-Path $Folder 'Logs'
    $null = New-Item -ItemType Directory -Path $logDir -Force
    $report = Join-Path $logDir 'detection.txt'
    $verdict = Read-Check $report (Invoke-Tool 'CheckNakoraDrivers.exe' $report $TimeoutMinutes @()) $TimeoutMinutes
    $verdict.LogDir = $logDir
    return $verdict
}

Exit-If32Bit $PSBoundParameters
# Programs named without a path are not looked for in the current directory: the folder
# comes first in the search path instead, so that cmd finds devcon.exe there.
$env:NoDefaultCurrentDirectoryInExePath = '1'
$lock = $null
try {
    $Folder = Get-FullFolder $Folder
    $entry = Enter-Kit $Folder $TimeoutMinutes
    $lock = $entry.Lock
    if ($entry.Problem) {
        $verdict = @{ Code = $null; Line = "Nakora driver stack: could not check ($($entry.Problem))" }
    } else {
        $verdict = Get-Verdict
    }
} catch {
    $verdict = @{ Code = $null; Line = "Nakora driver stack: could not check ($($_.Exception.Message))" }
} finally {
    Exit-RunLock $lock
}
$clean = $verdict.Code -eq 0
$line = $verdict.Line
$code = [int](-not $clean)
$shown = $true
switch ($For) {
    'ConfigMgrSetting' { $code = 0 }
    'ConfigMgrApplication' {
        $code = 0
        $shown = $clean
    }
    'Win32App' {
        if ($verdict.Code -eq 1) {
            $pending = $false
            try { $pending = Test-RestartPending $verdict.LogDir } catch { $pending = $false }
            if ($pending) {
                $line = "$line (cleaned; a restart is pending)"
                $code = 0
            }
        }
    }
}
$type = 'Error'
if ($clean) { $type = 'Information' }
if ($verdict.Code -eq 1) { $type = 'Warning' }
Write-Trace $code $line $type
if ($shown) { Write-Output $line }
exit $code
