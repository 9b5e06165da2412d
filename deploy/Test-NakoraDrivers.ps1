# Test-NakoraDrivers.ps1: detection, through the check staged by Install-NakoraCleanup.ps1.
#
# Runs CheckNakoraDrivers.exe from -Folder and writes exactly one line: the check's summary,
# or why it could not check. A machine is clean only when the check ran and exited 0. Nothing
# runs unless the folder is admin-only, everything in it and in Logs is the kit's, owned by
# Administrators or System and no link, and devcon.exe matches the hash the install recorded;
# else, a missing folder, check or devcon.exe, or another run in progress (the mutex
# Global\NakoraCleanup, waited for up to a minute) is "could not check", never clean. Run it as
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

# The kit's folder, the lock and the 64-bit relaunch. The same text in Install-NakoraCleanup.ps1,
# Test-NakoraDrivers.ps1 and Repair-NakoraDrivers.ps1 (the deploy tests hold it so): Intune and
# Configuration Manager take each script as one file.
$Admins = 'S-1-5-32-544'
$System = 'S-1-5-18'
$Users = 'S-1-5-32-545'
$Ours = @('CleanupNakoraDrivers.exe', 'CheckNakoraDrivers.exe')
$Kit = $Ours + @('devcon.exe', 'SHA256SUMS', 'Install-NakoraCleanup.ps1', 'Test-NakoraDrivers.ps1',
    'Repair-NakoraDrivers.ps1')
$DevconRecord = 'devcon.sha256'
$CheckListings = @('check-devicelist.txt', 'check-audiodevicelist.txt', 'check-driverlist.txt')
$CleanupListings = @('devicelist.txt', 'audiodevicelist.txt', 'driverlist.txt')
$RunName = '^\d{8}-\d{6}(-\d{7})?$'

function Get-OwnerSid([string]$Path) {
    (Get-Acl -LiteralPath $Path).GetOwner([System.Security.Principal.SecurityIdentifier]).Value
}

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

function Test-Wow64 {
    [Environment]::Is64BitOperatingSystem -and -not [Environment]::Is64BitProcess -and [bool]$PSCommandPath
}

function Start-Native64([string[]]$Arguments) {
    & "$env:SystemRoot\Sysnative\WindowsPowerShell\v1.0\powershell.exe" -NoProfile -NonInteractive `
        -ExecutionPolicy Bypass -File $PSCommandPath @Arguments
}

function Get-ItemProblem([string]$Path, [string]$Level = 'Folder') {
    # Walks the tree without following links. An owner may always rewrite an item's rights, so
    # only Administrators and System may own one; only the kit's names stand where they count.
    foreach ($item in @(Get-ChildItem -LiteralPath $Path -Force)) {
        if ($item.Attributes -band [System.IO.FileAttributes]::ReparsePoint) { return "$($item.FullName) is a link or junction" }
        $ours = $true
        if ($Level -eq 'Folder' -and $item.PSIsContainer) { $ours = $item.Name -eq 'Logs' }
        if ($Level -eq 'Folder' -and -not $item.PSIsContainer) {
            $ours = ($Kit + $DevconRecord + $CheckListings + $CleanupListings) -contains $item.Name
        }
        if ($Level -eq 'Logs' -and $item.PSIsContainer) { $ours = $item.Name -match $RunName }
        if ($Level -eq 'Logs' -and -not $item.PSIsContainer) { $ours = $item.Name -match '\.txt(\.stderr)?$' }
        if (-not $ours) { return "$Path holds $($item.Name), which the kit did not put there" }
        $owner = 'someone who denies reading its rights'
        try { $owner = Get-OwnerSid $item.FullName } catch { $owner = 'someone who denies reading its rights' }
        if ($owner -ne $Admins -and $owner -ne $System) { return "$($item.FullName) is owned by $owner" }
        if ($item.PSIsContainer) {
            $next = 'Run'
            if ($Level -eq 'Folder') { $next = 'Logs' }
            $problem = Get-ItemProblem $item.FullName $next
            if ($problem) { return $problem }
        }
    }
    return $null
}

function Get-DevconRecordProblem([string]$Path) {
    # The install checked devcon.exe's signature, or the administrator's hash, and recorded it.
    $record = Join-Path $Path $DevconRecord
    if (-not (Test-Path -LiteralPath $record -PathType Leaf)) { return "$DevconRecord is missing in $Path" }
    $expected = "$(Get-Content -LiteralPath $record -TotalCount 1)".Trim()
    if ((Get-FileHash -LiteralPath (Join-Path $Path 'devcon.exe') -Algorithm SHA256).Hash -ne $expected) {
        return "devcon.exe does not match $DevconRecord"
    }
    return $null
}

function Enter-RunLock([double]$Minutes) {
    # One run at a time on the machine: runs share the folder, its listings and its logs. Waits
    # a minute at most, or the time limit when that is shorter.
    try {
        $lock = New-Object System.Threading.Mutex($false, 'Global\NakoraCleanup')
    } catch {
        # Held by a run of another account, whose default rights on it keep others out.
        if ($_.Exception.GetBaseException() -is [System.UnauthorizedAccessException]) { return $null }
        throw
    }
    try {
        $held = $lock.WaitOne([int]([Math]::Min(60, $Minutes * 60) * 1000))
    } catch [System.Threading.AbandonedMutexException] {
        $held = $true  # a run that was killed left it
    }
    if ($held) { return $lock }
    $lock.Dispose()
    return $null
}

function Exit-RunLock($Lock) {
    if ($Lock) {
        $Lock.ReleaseMutex()
        $Lock.Dispose()
    }
}

function Get-RelaunchArgument($Bound) {
    foreach ($key in $Bound.Keys) {
        $value = $Bound[$key]
        if ($value -is [System.Management.Automation.SwitchParameter]) {
            if ($value.IsPresent) { "-$key" }
        } else {
            "-$key"
            "$value"
        }
    }
}
# The kit's folder ends here.

# The install's record of its last run, read by Install-NakoraCleanup.ps1 and Test-NakoraDrivers.ps1
# alike: "exit=<code>" and "time=<UTC, round-trip format>" in Logs\last-result.txt.
function Get-LastBootTime {
    (Get-CimInstance -ClassName Win32_OperatingSystem).LastBootUpTime.ToUniversalTime()
}

function Get-LastResult([string]$LogDir) {
    # Returns @{ Code; Time }, or $null when there is no whole record.
    $record = Join-Path $LogDir 'last-result.txt'
    if (-not (Test-Path -LiteralPath $record -PathType Leaf)) { return $null }
    $fields = @{}
    foreach ($line in Get-Content -LiteralPath $record) {
        if ($line -match '^(\w+)=(.*)$') { $fields[$Matches[1]] = $Matches[2] }
    }
    if (-not $fields.ContainsKey('exit') -or -not $fields.ContainsKey('time')) { return $null }
    $time = [DateTime]::Parse($fields['time'], [Globalization.CultureInfo]::InvariantCulture,
        [Globalization.DateTimeStyles]::RoundtripKind).ToUniversalTime()
    return @{ Code = $fields['exit']; Time = $time }
}
# The record ends here.

# Windows-only steps, each small enough to replace in the tests.

function Stop-ToolTree([int]$Id) {
    # The check's cmd and devcon go with it: a hung devcon would outlive every later cycle.
    # Windows PowerShell 5.1 wraps a native program's stderr in errors that 'Stop' makes
    # fatal (PowerShell 7.1 stopped that: https://github.com/PowerShell/PowerShell/pull/13361),
    # and taskkill complains of a child that ended meanwhile.
    $ErrorActionPreference = 'Continue'
    $null = & taskkill.exe /PID $Id /T /F 2>&1
}

function Test-RestartPending([string]$LogDir) {
    $last = Get-LastResult $LogDir
    return $null -ne $last -and $last.Code -eq '3010' -and $last.Time -gt (Get-LastBootTime)
}

function Get-Verdict {
    # Returns the check's exit code (or $null when it could not be run) and one line.
    foreach ($name in @('CheckNakoraDrivers.exe', 'devcon.exe')) {
        if (-not (Test-Path -LiteralPath (Join-Path $Folder $name) -PathType Leaf)) {
            return @{ Code = $null; Line = "Nakora driver stack: could not check ($name is missing in $Folder)" }
        }
    }
    $problem = Get-FolderAccessProblem $Folder
    if ($problem) { $problem = "$Folder is not admin-only: $problem" }
    if (-not $problem) { $problem = Get-ItemProblem $Folder }
    if (-not $problem) { $problem = Get-DevconRecordProblem $Folder }
    if ($problem) { return @{ Code = $null; Line = "Nakora driver stack: could not check ($problem)" } }
    $env:PATH = $Folder + [System.IO.Path]::PathSeparator + $env:PATH
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

if (Test-Wow64) {
    Start-Native64 @(Get-RelaunchArgument $PSBoundParameters)
    exit $LASTEXITCODE
}
# Programs named without a path are not looked for in the current directory: the folder
# comes first in the search path instead, so that cmd finds devcon.exe there.
$env:NoDefaultCurrentDirectoryInExePath = '1'
$lock = $null
try {
    $lock = Enter-RunLock $TimeoutMinutes
    if (-not $lock) {
        $verdict = @{ Code = $null; Line = 'Nakora driver stack: could not check (another run is in progress)' }
    } elseif (-not (Test-Path -LiteralPath $Folder -PathType Container)) {
        $verdict = @{ Code = $null; Line = "Nakora driver stack: could not check ($Folder is missing)" }
    } else {
        $verdict = Get-Verdict
    }
} catch {
    $verdict = @{ Code = $null; Line = "Nakora driver stack: could not check ($($_.Exception.Message))" }
} finally {
    Exit-RunLock $lock
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
