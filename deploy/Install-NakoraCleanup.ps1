# Install-NakoraCleanup.ps1: stages the Nakora clean-up kit in an admin-only folder and runs it.
#
# The install command of an Intune Win32 app, the program of a Configuration Manager
# application, a hand run, and the run behind Repair-NakoraDrivers.ps1 and the Ansible
# playbook. Run it as System in Windows PowerShell 5.1:
#   powershell.exe -NoProfile -ExecutionPolicy Bypass -File .\Install-NakoraCleanup.ps1
#
# Beside this script (the release zip's files flattened into one folder, plus your own
# devcon.exe from your WDK): CleanupNakoraDrivers.exe, CheckNakoraDrivers.exe, devcon.exe,
# SHA256SUMS, Install-NakoraCleanup.ps1, Test-NakoraDrivers.ps1, Repair-NakoraDrivers.ps1.
#
# It makes -Folder admin-only (owner Administrators; System and Administrators full control,
# Users read and execute, nothing inherited), refusing it if anything else is inside; copies
# the kit there; checks both executables against SHA256SUMS; runs the check, and the cleanup
# (within -TimeoutMinutes) only when the check finds some of the stack, then the check again.
# Reports go to Logs\<yyyyMMdd-HHmmss>\ (the newest -KeepRuns runs are kept), the exit code
# to Logs\last-result.txt. -StageOnly prepares the folder and the files and runs nothing.
#
# Exit codes:
#   0     none of Nakora's driver stack is left (or, with -StageOnly, staged)
#   3010  cleaned, but some is still left: restart, then run again (a soft reboot among
#         the default return codes of an Intune Win32 app and of a Configuration Manager
#         deployment type: https://learn.microsoft.com/mem/intune/apps/apps-win32-add,
#         https://learn.microsoft.com/powershell/module/configurationmanager/set-cmdeploymenttypereturncode)
#   1     could not check, refused the folder, devcon.exe missing, hash mismatch, or the
#         cleanup ran past its time limit
# The last line of output always sums up the run.
[CmdletBinding()]
param(
    [string]$Folder = "$env:ProgramData\NakoraCleanup",
    [double]$TimeoutMinutes = 30,
    [int]$KeepRuns = 10,
    [switch]$StageOnly
)
Set-StrictMode -Version Latest
$ErrorActionPreference = 'Stop'

$Ours = @('CleanupNakoraDrivers.exe', 'CheckNakoraDrivers.exe')
$Kit = $Ours + @('devcon.exe', 'SHA256SUMS', 'Install-NakoraCleanup.ps1', 'Test-NakoraDrivers.ps1',
    'Repair-NakoraDrivers.ps1')
$CheckListings = @('check-devicelist.txt', 'check-audiodevicelist.txt', 'check-driverlist.txt')
$CleanupListings = @('devicelist.txt', 'audiodevicelist.txt', 'driverlist.txt')
$Admins = 'S-1-5-32-544'
$System = 'S-1-5-18'
$Users = 'S-1-5-32-545'

# Windows-only steps, each small enough to replace in the tests.

function Reset-FolderAccess([string]$Path) {
    # Administrators take the folder over, whoever made it first; /L acts on links, never
    # their targets. The folder's own rights are replaced, everything inside inherits them.
    foreach ($arguments in @(
            @($Path, '/setowner', "*$Admins", '/T', '/C', '/L', '/Q'),
            @($Path, '/reset', '/T', '/C', '/L', '/Q'),
            @($Path, '/inheritance:r', '/grant:r', "*${System}:(OI)(CI)F", "*${Admins}:(OI)(CI)F",
                "*${Users}:(OI)(CI)RX", '/L', '/Q'))) {
        $null = & icacls.exe @arguments
        if ($LASTEXITCODE -ne 0) { throw "icacls $($arguments[1]) failed with exit code $LASTEXITCODE" }
    }
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

function Stop-ToolTree([int]$Id) {
    # The cleanup's devcon and cmd go with it.
    # Windows PowerShell 5.1 wraps a native program's stderr in errors that 'Stop' makes
    # fatal (PowerShell 7.1 stopped that: https://github.com/PowerShell/PowerShell/pull/13361),
    # and taskkill complains of a child that ended meanwhile.
    $ErrorActionPreference = 'Continue'
    $null = & taskkill.exe /PID $Id /T /F 2>&1
}

# The steps that are the same everywhere.

function Get-ReparsePoint([string]$Path) {
    # Walks the tree without following links, so a planted junction is found, not entered.
    $item = Get-Item -LiteralPath $Path -Force
    if ($item.Attributes -band [System.IO.FileAttributes]::ReparsePoint) { return $item.FullName }
    if ($item.PSIsContainer) {
        foreach ($child in @(Get-ChildItem -LiteralPath $Path -Force)) {
            $found = Get-ReparsePoint $child.FullName
            if ($found) { return $found }
        }
    }
    return $null
}

function Get-StrangerName([string]$Path) {
    $allowed = $Kit + $CheckListings + $CleanupListings
    foreach ($item in @(Get-ChildItem -LiteralPath $Path -Force)) {
        if ($item.Name -eq 'Logs' -and $item.PSIsContainer) { continue }
        if ($allowed -contains $item.Name -and -not $item.PSIsContainer) { continue }
        return $item.Name
    }
    return $null
}

function Get-HashProblem([string]$Path) {
    $sumsPath = Join-Path $Path 'SHA256SUMS'
    if (-not (Test-Path -LiteralPath $sumsPath)) { return 'SHA256SUMS is missing' }
    $sums = @{}
    foreach ($line in Get-Content -LiteralPath $sumsPath) {
        # "<hex>  <name>", the name with the package's folder: found by file name.
        if ($line -match '^([0-9a-fA-F]{64}) [ *](.+)$') { $sums[($Matches[2] -split '/')[-1]] = $Matches[1] }
    }
    foreach ($name in $Ours) {
        if (-not $sums.ContainsKey($name)) { return "SHA256SUMS has no line for $name" }
        $actual = (Get-FileHash -LiteralPath (Join-Path $Path $name) -Algorithm SHA256).Hash
        if ($actual -ne $sums[$name]) { return "$name does not match SHA256SUMS" }
    }
    return $null
}

function Invoke-Tool([string]$Name, [string]$Report, [double]$Minutes, [string[]]$Listings) {
    # Returns the exit code, or $null when the time limit passed and the tool was stopped.
    # Listings a stopped run left behind must not pass for this run's.
    foreach ($listing in $Listings) { Remove-Item -LiteralPath (Join-Path $Folder $listing) -ErrorAction SilentlyContinue }
    $process = Start-Process -FilePath (Join-Path $Folder $Name) -WorkingDirectory $Folder -NoNewWindow -PassThru `
        -RedirectStandardOutput $Report -RedirectStandardError "$Report.stderr"
    $null = $process.Handle  # without it, Windows PowerShell 5.1 loses the exit code
    if (-not $process.WaitForExit([int][Math]::Min([int]::MaxValue, $Minutes * 60000))) {
        Stop-ToolTree $process.Id
        $null = $process.WaitForExit(30000)
        return $null
    }
    $process.WaitForExit()
    return $process.ExitCode
}

function Get-Summary([string]$Report) {
    $lines = @(Get-Content -LiteralPath $Report -ErrorAction SilentlyContinue | Where-Object { $_.Trim() })
    if ($lines.Count) { return $lines[-1].Trim() }
    return '(no output)'
}

function Move-Listing([string[]]$Names, [string]$Prefix) {
    foreach ($name in $Names) {
        $path = Join-Path $Folder $name
        if (Test-Path -LiteralPath $path) { Move-Item -LiteralPath $path -Destination (Join-Path $RunDir "$Prefix$name") -Force }
    }
}

function Invoke-Check([string]$When) {
    $report = Join-Path $RunDir "check-$When.txt"
    $code = Invoke-Tool 'CheckNakoraDrivers.exe' $report $TimeoutMinutes $CheckListings
    Move-Listing $CheckListings "$When-"
    return @{ Code = $code; Summary = (Get-Summary $report) }
}

function Complete-Run([int]$Code, [string]$Line) {
    if ($RunDir) {
        Set-Content -LiteralPath (Join-Path $LogDir 'last-result.txt') -Encoding Ascii `
            -Value @("exit=$Code", "time=$([DateTime]::UtcNow.ToString('o'))")
    }
    Write-Output $Line
    exit $Code
}

function Stop-Refused([string]$Why) {
    Write-Output "Nakora clean-up refused: $Why"
    exit 1
}

$RunDir = $null
try {
    $source = [System.IO.Path]::GetFullPath($PSScriptRoot).TrimEnd('\', '/')
    $Folder = [System.IO.Path]::GetFullPath($Folder).TrimEnd('\', '/')
    $inPlace = $source -eq $Folder
    if (-not $inPlace) {
        foreach ($name in @('devcon.exe') + $Ours + @('SHA256SUMS')) {
            if (-not (Test-Path -LiteralPath (Join-Path $source $name) -PathType Leaf)) {
                if ($name -eq 'devcon.exe') {
                    Stop-Refused "devcon.exe is missing beside this script: add your organisation's devcon.exe from its WDK (the kit never ships it)"
                }
                Stop-Refused "$name is missing beside this script"
            }
        }
    }

    if (-not (Test-Path -LiteralPath $Folder)) { $null = New-Item -ItemType Directory -Path $Folder }
    $link = Get-ReparsePoint $Folder
    if ($link) { Stop-Refused "$link is a link or junction" }
    if (-not (Get-Item -LiteralPath $Folder -Force).PSIsContainer) { Stop-Refused "$Folder is not a folder" }
    Reset-FolderAccess $Folder
    # Until its rights were reset anyone could add to it, a junction named Logs too.
    $link = Get-ReparsePoint $Folder
    if ($link) { Stop-Refused "$link is a link or junction" }
    $problem = Get-FolderAccessProblem $Folder
    if ($problem) { Stop-Refused "$Folder is not admin-only: $problem" }
    $stranger = Get-StrangerName $Folder
    if ($stranger) { Stop-Refused "$Folder holds $stranger, which the kit did not put there" }

    if (-not $inPlace) {
        foreach ($name in $Kit) {
            $from = Join-Path $source $name
            if (Test-Path -LiteralPath $from -PathType Leaf) { Copy-Item -LiteralPath $from -Destination $Folder -Force }
        }
    }
    if (-not (Test-Path -LiteralPath (Join-Path $Folder 'devcon.exe') -PathType Leaf)) {
        Stop-Refused "devcon.exe is missing in $Folder`: add your organisation's devcon.exe from its WDK (the kit never ships it)"
    }
    $problem = Get-HashProblem $Folder
    if ($problem) { Stop-Refused $problem }
    if ($StageOnly) {
        Write-Output "Nakora clean-up kit staged in $Folder"
        exit 0
    }

    $LogDir = Join-Path $Folder 'Logs'
    $RunDir = Join-Path $LogDir (Get-Date -Format 'yyyyMMdd-HHmmss')
    $null = New-Item -ItemType Directory -Path $RunDir -Force
    $old = @(Get-ChildItem -LiteralPath $LogDir -Directory | Where-Object { $_.Name -match '^\d{8}-\d{6}$' } |
            Sort-Object Name -Descending | Select-Object -Skip ([Math]::Max(1, $KeepRuns)))
    foreach ($dir in $old) { Remove-Item -LiteralPath $dir.FullName -Recurse -Force }

    $before = Invoke-Check 'before'
    Write-Output "Check before: $($before.Summary)"
    if ($null -eq $before.Code) { Complete-Run 1 "Nakora driver stack: could not check (the check ran past $TimeoutMinutes minutes)" }
    if ($before.Code -eq 0) { Complete-Run 0 $before.Summary }
    if ($before.Code -ne 1) {
        if ($before.Code -eq 2) { Complete-Run 1 $before.Summary }
        Complete-Run 1 "Nakora driver stack: could not check (CheckNakoraDrivers.exe exit code $($before.Code))"
    }

    $report = Join-Path $RunDir 'cleanup.txt'
    $code = Invoke-Tool 'CleanupNakoraDrivers.exe' $report $TimeoutMinutes $CleanupListings
    Move-Listing $CleanupListings ''
    if ($null -eq $code) {
        Complete-Run 1 "Nakora clean-up stopped: it ran past $TimeoutMinutes minutes; its partial report is $report"
    }
    if ($code -ne 0) { Complete-Run 1 "Nakora clean-up did not finish (exit code $code); its report is $report" }
    Write-Output "Cleanup: $(Get-Summary $report)"

    $after = Invoke-Check 'after'
    if ($after.Code -eq 0) { Complete-Run 0 $after.Summary }
    if ($after.Code -eq 1) { Complete-Run 3010 "$($after.Summary) (restart, then run again)" }
    if ($after.Code -eq 2) { Complete-Run 1 $after.Summary }
    Complete-Run 1 "Nakora driver stack: could not check after the cleanup (exit code $($after.Code))"
} catch {
    $message = "Nakora clean-up failed: $($_.Exception.Message)"
    if ($RunDir) { Complete-Run 1 $message }
    Write-Output $message
    exit 1
}
