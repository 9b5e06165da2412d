# Install-NakoraCleanup.ps1: stages the Nakora clean-up kit in an admin-only folder and runs it.
#
# The install command of an Intune Win32 app, the program of a Configuration Manager
# application, a hand run, and the run behind Repair-NakoraDrivers.ps1 and the Ansible
# playbook. Run it as System, with -File: with -Command, powershell.exe exits 0 or 1 only, and
# 3010 would be lost:
#   powershell.exe -NoProfile -ExecutionPolicy Bypass -File .\Install-NakoraCleanup.ps1
# Started as a 32-bit process on 64-bit Windows (as Intune starts an install command), it
# runs itself again in the 64-bit Windows PowerShell and returns that run's exit code.
#
# Beside this script (the release zip's files flattened into one folder, plus your own
# devcon.exe from your WDK): CleanupNakoraDrivers.exe, CheckNakoraDrivers.exe, devcon.exe,
# SHA256SUMS, Install-NakoraCleanup.ps1, Test-NakoraDrivers.ps1, Repair-NakoraDrivers.ps1.
#
# -Folder (default %ProgramFiles%\NakoraCleanup, where users cannot create anything) is made
# admin-only: a new one is created with its final rights, in Windows PowerShell 5.1 and
# PowerShell 7 alike (owner Administrators; System and Administrators full control, Users
# read and execute, nothing inherited); an existing one is
# locked first, then everything in it taken over; one that someone else made (a file, a link,
# or a folder owned by anyone but Administrators or System) is taken over (a link only moved)
# and moved aside as <name>.squatted-<time>. It refuses a folder holding anything the kit did not put there, owned
# by anyone else, or a link. Each kit file is deleted and copied afresh; both executables must
# match SHA256SUMS, and devcon.exe must carry a valid signature of Microsoft Corporation or match
# -DevconSha256 (for an organisation that signs it itself); its hash goes to devcon.sha256, which
# the detection and the remediation check. Then it runs the check, and the cleanup only when the
# check finds some of the stack, then the check again. One run at a time on the machine (the
# mutex Global\NakoraCleanup, waited for up to a minute). Reports go to Logs\<time>\ (the newest
# -KeepRuns runs are kept), the exit code to Logs\last-result.txt. -StageOnly prepares the folder
# and the files and runs nothing.
#
# Time limit: -TimeoutMinutes for each of the three runs, so 91 minutes at most with the wait,
# within the 120 minutes the guide sets as an Intune Win32 app's "installation time required"
# and a Configuration Manager deployment type's "maximum allowed run time" (both Microsoft's
# settings: https://learn.microsoft.com/mem/intune/apps/apps-win32-add,
# https://learn.microsoft.com/mem/configmgr/apps/deploy-use/create-applications). The script
# stops a tool past its limit itself: an agent that kills PowerShell leaves the tools running.
#
# Exit codes:
#   0     none of Nakora's driver stack is left (or, with -StageOnly, staged)
#   3010  cleaned, but some is still left: restart, then run again (a soft reboot among
#         the default return codes of an Intune Win32 app and of a Configuration Manager
#         deployment type: https://learn.microsoft.com/mem/intune/apps/apps-win32-add,
#         https://learn.microsoft.com/powershell/module/configurationmanager/set-cmdeploymenttypereturncode)
#   1     could not check, another run is in progress, refused the folder, devcon.exe missing
#         or unverified, hash mismatch, the cleanup ran past its time limit, or some is still
#         left after the restart that an earlier 3010 asked for
# The last line of output always sums up the run.
[CmdletBinding()]
param(
    [string]$Folder = "$(if ($env:ProgramW6432) { $env:ProgramW6432 } else { $env:ProgramFiles })\NakoraCleanup",
    [double]$TimeoutMinutes = 30,
    [int]$KeepRuns = 10,
    [string]$DevconSha256 = '',
    [switch]$StageOnly
)
Set-StrictMode -Version Latest
$ErrorActionPreference = 'Stop'

# @include Common.ps1

# @include Tools.ps1

# Windows-only steps, each small enough to replace in the tests.

function Get-AdminFolderSecurity {
    $security = New-Object System.Security.AccessControl.DirectorySecurity
    $security.SetSecurityDescriptorSddlForm('O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)')
    return $security
}

function New-AdminFolder([string]$Path) {
    # Created with its final rights, so that nothing inherited ever applies to it. .NET Framework
    # (Windows PowerShell 5.1) takes the rights in Directory.CreateDirectory; .NET 5 and later
    # (PowerShell 7) dropped that overload for FileSystemAclExtensions.Create:
    # https://learn.microsoft.com/dotnet/api/system.io.filesystemaclextensions.create
    $security = Get-AdminFolderSecurity
    if ($PSVersionTable.PSEdition -eq 'Desktop') {
        $null = [System.IO.Directory]::CreateDirectory($Path, $security)
    } else {
        [System.IO.FileSystemAclExtensions]::Create((New-Object System.IO.DirectoryInfo $Path), $security)
    }
}

function Invoke-Native([string]$Name, [string[]]$Arguments) {
    # Runs to its end whatever it says on standard error, which Windows PowerShell 5.1 may make
    # into error records that 'Stop' would end the run with
    # (https://github.com/PowerShell/PowerShell/issues/3996): only its exit code counts.
    $program = Get-Command $Name -CommandType Application | Select-Object -First 1
    $ErrorActionPreference = 'Continue'
    $lines = @(& $program @Arguments 2>&1 | ForEach-Object { "$_" } | Where-Object { $_.Trim() })
    if ($LASTEXITCODE -ne 0) {
        $command = @($Name) + @($Arguments | ForEach-Object { if ($_ -match '\s') { "`"$_`"" } else { $_ } })
        $last = ''
        if ($lines.Count) { $last = ": $($lines[-1].Trim())" }
        throw "$($command -join ' ') failed with exit code $LASTEXITCODE$last"
    }
}

function Invoke-Icacls([string[]]$Arguments) {
    Invoke-Native 'icacls.exe' $Arguments
}

function Reset-FolderAccess([string]$Path) {
    # The folder itself first, so that nobody can add to it meanwhile; then what is inside is
    # taken over and inherits from it. /L acts on links, never their targets.
    Invoke-Icacls @($Path, '/setowner', "*$Admins", '/L', '/Q')
    Invoke-Icacls @($Path, '/inheritance:r', '/grant:r', "*${System}:(OI)(CI)F", "*${Admins}:(OI)(CI)F",
        "*${Users}:(OI)(CI)RX", '/L', '/Q')
    if (@(Get-ChildItem -LiteralPath $Path -Force).Count) {
        Invoke-Icacls @($Path, '/setowner', "*$Admins", '/T', '/C', '/L', '/Q')
        Invoke-Icacls @((Join-Path $Path '*'), '/reset', '/T', '/C', '/L', '/Q')
    }
}

function Grant-Takeover([string]$Path) {
    # Someone else's file or folder: Administrators take it, whatever its rights say.
    Invoke-Native 'takeown.exe' @('/F', $Path, '/A')
    Invoke-Icacls @($Path, '/reset', '/L', '/Q')
}

function Get-SignerSubject([string]$Path) {
    # The subject of a valid Authenticode signature, or $null.
    $signature = Get-AuthenticodeSignature -LiteralPath $Path
    if ($signature.Status -ne 'Valid') { return $null }
    return $signature.SignerCertificate.Subject
}

# The steps that are the same everywhere.

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

function Get-DevconProblem([bool]$InPlace) {
    # Verified where it runs from. Records the hash that the detection and remediation check.
    $devcon = Join-Path $Folder 'devcon.exe'
    $hash = (Get-FileHash -LiteralPath $devcon -Algorithm SHA256).Hash
    if ($DevconSha256) {
        if ($hash -ne $DevconSha256.Trim()) { return 'devcon.exe does not match -DevconSha256' }
    } elseif ($InPlace) {
        # A run of the staged kit, as the remediation's: devcon.exe is the one staged.
        $problem = Get-DevconRecordProblem $Folder
        if ($problem) { return $problem }
    } elseif ("$(Get-SignerSubject $devcon)" -notmatch '(^|, )O=Microsoft Corporation(,|$)') {
        return 'devcon.exe carries no valid signature of Microsoft Corporation: pass its SHA-256 as -DevconSha256 if your organisation signs it'
    }
    $record = Join-Path $Folder $DevconRecord
    Remove-Item -LiteralPath $record -Force -ErrorAction SilentlyContinue
    Set-Content -LiteralPath $record -Value $hash -Encoding Ascii
    return $null
}

function Get-SquatOwner([string]$Path) {
    # Who made -Folder, when it is not a plain folder of Administrators or System; else $null.
    $item = Get-Item -LiteralPath $Path -Force
    $owner = 'someone who denies reading its rights'
    try { $owner = Get-OwnerSid $Path } catch { $owner = 'someone who denies reading its rights' }
    if ($item.Attributes -band [System.IO.FileAttributes]::ReparsePoint) { return "a link, owned by $owner" }
    if (-not $item.PSIsContainer) { return "a file, owned by $owner" }
    if ($owner -ne $Admins -and $owner -ne $System) { return "a folder owned by $owner" }
    return $null
}

function Get-Summary([string]$Report) {
    # Single bytes, not UTF-8: read as the console's code page in either edition, where 5.1 would
    # take ANSI and PowerShell 7 UTF-8.
    $lines = @(Get-Content -LiteralPath $Report -Encoding Oem -ErrorAction SilentlyContinue | Where-Object { $_.Trim() })
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

if (Test-Wow64) {
    # Intune starts an install command as a 32-bit process; 64-bit Windows PowerShell sees the
    # real System32 and Program Files.
    Start-Native64 @(Get-RelaunchArgument $PSBoundParameters)
    exit $LASTEXITCODE
}
# Programs named without a path are not looked for in the current directory: the folder
# comes first in the search path instead, so that cmd finds devcon.exe there.
$env:NoDefaultCurrentDirectoryInExePath = '1'
$RunDir = $null
$lock = $null
try {
    $lock = Enter-RunLock $TimeoutMinutes
    if (-not $lock) {
        Write-Output 'Nakora driver stack: could not check (another run is in progress)'
        exit 1
    }
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

    if (Test-Path -LiteralPath $Folder) {
        $squat = Get-SquatOwner $Folder
        if ($squat) {
            # Nobody but an administrator may decide whether the cleanup runs.
            $aside = "$Folder.squatted-$(Get-Date -Format 'yyyyMMdd-HHmmss')"
            # A link is moved as it is: taking it over could take over what it points to.
            if ($squat -notlike 'a link*') { Grant-Takeover $Folder }
            Move-Item -LiteralPath $Folder -Destination $aside
            Write-Output "Moved $Folder aside to $aside`: $squat"
        } else {
            Reset-FolderAccess $Folder
        }
    }
    if (-not (Test-Path -LiteralPath $Folder)) { New-AdminFolder $Folder }
    $problem = Get-FolderAccessProblem $Folder
    if ($problem) { Stop-Refused "$Folder is not admin-only: $problem" }
    $problem = Get-ItemProblem $Folder
    if ($problem) { Stop-Refused $problem }

    if (-not $inPlace) {
        foreach ($name in $Kit) {
            $from = Join-Path $source $name
            $to = Join-Path $Folder $name
            # Afresh, never over the old file, which keeps its owner and rights.
            Remove-Item -LiteralPath $to -Force -ErrorAction SilentlyContinue
            if (Test-Path -LiteralPath $to) { Stop-Refused "$to cannot be replaced" }
            if (Test-Path -LiteralPath $from -PathType Leaf) { Copy-Item -LiteralPath $from -Destination $to }
        }
    }
    if (-not (Test-Path -LiteralPath (Join-Path $Folder 'devcon.exe') -PathType Leaf)) {
        Stop-Refused "devcon.exe is missing in $Folder`: add your organisation's devcon.exe from its WDK (the kit never ships it)"
    }
    $problem = Get-HashProblem $Folder
    if ($problem) { Stop-Refused $problem }
    $problem = Get-DevconProblem $inPlace
    if ($problem) { Stop-Refused $problem }
    if ($StageOnly) {
        Write-Output "Nakora clean-up kit staged in $Folder"
        exit 0
    }

    $env:PATH = $Folder + [System.IO.Path]::PathSeparator + $env:PATH
    $LogDir = Join-Path $Folder 'Logs'
    $previous = $null
    try { $previous = Get-LastResult $LogDir } catch { $previous = $null }
    # To the ten-millionth of a second, and never an existing one: runs never share a folder.
    $RunDir = Join-Path $LogDir (Get-Date -Format 'yyyyMMdd-HHmmss-fffffff')
    $null = New-Item -ItemType Directory -Path $LogDir -Force
    $null = New-Item -ItemType Directory -Path $RunDir
    $old = @(Get-ChildItem -LiteralPath $LogDir -Directory | Where-Object { $_.Name -match $RunName } |
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
    if ($after.Code -eq 1) {
        # 3010 once per restart: what a restart did not remove, another one will not either.
        if ($previous -and $previous.Code -eq '3010' -and $previous.Time -lt (Get-LastBootTime)) {
            Complete-Run 1 "$($after.Summary) (still left after a restart)"
        }
        Complete-Run 3010 "$($after.Summary) (restart, then run again)"
    }
    if ($after.Code -eq 2) { Complete-Run 1 $after.Summary }
    Complete-Run 1 "Nakora driver stack: could not check after the cleanup (exit code $($after.Code))"
} catch {
    $message = "Nakora clean-up failed: $($_.Exception.Message)"
    if ($RunDir) { Complete-Run 1 $message }
    Write-Output $message
    exit 1
} finally {
    Exit-RunLock $lock
}
