# Test-NakoraDrivers.ps1: detection, through the check staged by Install-NakoraCleanup.ps1.
#
# Runs CheckNakoraDrivers.exe from -Folder and writes exactly one line: the check's summary,
# or what is missing. A machine is clean only when the check ran and exited 0; a missing
# folder, check or devcon.exe is never clean. Run it as System in Windows PowerShell 5.1.
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
[CmdletBinding()]
param(
    [string]$Folder = "$env:ProgramData\NakoraCleanup",
    [ValidateSet('Remediations', 'Win32App', 'ConfigMgrApplication', 'ConfigMgrSetting')]
    [string]$For = 'Remediations',
    [double]$TimeoutMinutes = 30
)
Set-StrictMode -Version Latest
$ErrorActionPreference = 'Stop'

$Admins = 'S-1-5-32-544'
$System = 'S-1-5-18'
$Users = 'S-1-5-32-545'

# Windows-only steps, each small enough to replace in the tests.

# The same verification as Install-NakoraCleanup.ps1's: a check in a folder that others
# can write to is never run as System.
function Get-FolderAccessProblem([string]$Path) {
    $acl = Get-Acl -LiteralPath $Path
    $owner = $acl.GetOwner([System.Security.Principal.SecurityIdentifier]).Value
    if ($owner -ne $Admins -and $owner -ne $System) { return "its owner is $owner" }
    if (-not $acl.AreAccessRulesProtected) { return 'it inherits rights' }
    $full = [int][System.Security.AccessControl.FileSystemRights]::FullControl
    $readExecute = [int]([System.Security.AccessControl.FileSystemRights]'ReadAndExecute, Synchronize')
    $expected = @{ $System = $full; $Admins = $full; $Users = $readExecute }
    $rules = @($acl.GetAccessRules($true, $true, [System.Security.Principal.SecurityIdentifier]))
    foreach ($rule in $rules) {
        $sid = $rule.IdentityReference.Value
        if ($rule.IsInherited -or $rule.AccessControlType -ne 'Allow' -or -not $expected.ContainsKey($sid) -or
            [int]$rule.FileSystemRights -ne $expected[$sid]) {
            return "it grants $($rule.AccessControlType) $($rule.FileSystemRights) to $sid"
        }
    }
    if ($rules.Count -ne 3) { return "it has $($rules.Count) access rules, not 3" }
    return $null
}

function Stop-ToolTree([int]$Id) {
    # The check's cmd and devcon go with it: a hung devcon would outlive every later cycle.
    # Windows PowerShell 5.1 wraps a native program's stderr in errors that 'Stop' makes
    # fatal (PowerShell 7.1 stopped that: https://github.com/PowerShell/PowerShell/pull/13361),
    # and taskkill complains of a child that ended meanwhile.
    $ErrorActionPreference = 'Continue'
    $null = & taskkill.exe /PID $Id /T /F 2>&1
}

function Get-LastBootTime {
    (Get-CimInstance -ClassName Win32_OperatingSystem).LastBootUpTime.ToUniversalTime()
}

function Test-RestartPending([string]$LogDir) {
    # The install's own record: "exit=<code>" and "time=<UTC, round-trip format>".
    $record = Join-Path $LogDir 'last-result.txt'
    if (-not (Test-Path -LiteralPath $record)) { return $false }
    $fields = @{}
    foreach ($line in Get-Content -LiteralPath $record) {
        if ($line -match '^(\w+)=(.*)$') { $fields[$Matches[1]] = $Matches[2] }
    }
    if (-not $fields.ContainsKey('exit') -or $fields['exit'] -ne '3010' -or -not $fields.ContainsKey('time')) { return $false }
    $when = [DateTime]::Parse($fields['time'], [Globalization.CultureInfo]::InvariantCulture,
        [Globalization.DateTimeStyles]::RoundtripKind).ToUniversalTime()
    return $when -gt (Get-LastBootTime)
}

function Get-Verdict {
    # Returns the check's exit code (or $null when it could not be run) and one line.
    foreach ($name in @('CheckNakoraDrivers.exe', 'devcon.exe')) {
        if (-not (Test-Path -LiteralPath (Join-Path $Folder $name) -PathType Leaf)) {
            return @{ Code = $null; Line = "Nakora driver stack: could not check ($name is missing in $Folder)" }
        }
    }
    $problem = Get-FolderAccessProblem $Folder
    if ($problem) { return @{ Code = $null; Line = "Nakora driver stack: could not check ($Folder is not admin-only: $problem)" } }
    $logDir = Join-Path $Folder 'Logs'
    $null = New-Item -ItemType Directory -Path $logDir -Force
    $report = Join-Path $logDir 'detection.txt'
    $process = Start-Process -FilePath (Join-Path $Folder 'CheckNakoraDrivers.exe') -WorkingDirectory $Folder `
        -NoNewWindow -PassThru -RedirectStandardOutput $report -RedirectStandardError "$report.stderr"
    $null = $process.Handle  # without it, Windows PowerShell 5.1 loses the exit code
    if (-not $process.WaitForExit([int]($TimeoutMinutes * 60000))) {
        Stop-ToolTree $process.Id
        return @{ Code = $null; Line = "Nakora driver stack: could not check (the check ran past $TimeoutMinutes minutes)" }
    }
    $process.WaitForExit()
    $lines = @(Get-Content -LiteralPath $report | Where-Object { $_.Trim() })
    $line = 'Nakora driver stack: could not check (the check printed nothing)'
    if ($lines.Count) { $line = $lines[-1].Trim() }
    if ($process.ExitCode -notin 0, 1, 2) {
        $line = "Nakora driver stack: could not check (CheckNakoraDrivers.exe exit code $($process.ExitCode))"
    }
    return @{ Code = $process.ExitCode; Line = $line; LogDir = $logDir }
}

try {
    if (-not (Test-Path -LiteralPath $Folder -PathType Container)) {
        $verdict = @{ Code = $null; Line = "Nakora driver stack: could not check ($Folder is missing)" }
    } else {
        $verdict = Get-Verdict
    }
} catch {
    $verdict = @{ Code = $null; Line = "Nakora driver stack: could not check ($($_.Exception.Message))" }
}
$clean = $verdict.Code -eq 0

switch ($For) {
    'ConfigMgrSetting' {
        Write-Output $verdict.Line
        exit 0
    }
    'ConfigMgrApplication' {
        if ($clean) { Write-Output $verdict.Line }
        exit 0
    }
    'Win32App' {
        if (-not $clean -and $verdict.Code -eq 1) {
            $pending = $false
            try { $pending = Test-RestartPending $verdict.LogDir } catch { $pending = $false }
            if ($pending) {
                Write-Output "$($verdict.Line) (cleaned; a restart is pending)"
                exit 0
            }
        }
    }
}
Write-Output $verdict.Line
if ($clean) { exit 0 }
exit 1
