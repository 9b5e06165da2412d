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
# -Folder (default %ProgramFiles%\NakoraCleanup), a full path as it is (an Intune, Configuration
# Manager or cmd command line expands no $env:), must lie where only Administrators, System and
# TrustedInstaller own the folders above it (none a link), may create anything in its parent,
# and may rename, delete or take over its parent or any folder above that. It is made
# admin-only: a new one is created with its final rights (owner Administrators; System and
# Administrators full control, Users read and execute, nothing inherited), in Windows PowerShell
# 5.1 and PowerShell 7 alike. An existing one that someone else made (a file, a link, or a
# folder owned by anyone but Administrators or System) is taken over (a link only moved) and
# moved aside as <name>.squatted-<time>; one that is not exactly as the kit makes it, as
# <name>.aside-<time>: never mended in place. Within it, anything the kit did not put there,
# owned by anyone else, that lets anyone else change it, or a link, is moved, as it is, to
# <name>.aside-<time>.
# Each kit file is deleted and copied afresh; both executables must match SHA256SUMS, and
# devcon.exe must carry a valid signature of Microsoft Corporation or match -DevconSha256
# (which fleets should pass); its hash goes to devcon.sha256, which the detection and the
# remediation check. Then it runs the check, and the cleanup only when the check finds some of
# the stack, then the check again. One run at a time in the folder: each script holds the
# file run.lock in the folder open (waited for up to a minute). Reports go to Logs\<time>\
# (the newest -KeepRuns runs are kept), the exit code to Logs\last-result.txt. -StageOnly
# prepares the folder and the files and runs nothing.
#
# The earlier kit staged itself in %ProgramData%\NakoraCleanup, where users may create files:
# that folder is moved aside first, then deleted without following links or changing any
# rights, and an empty admin-only folder takes its name, so that no user can make it again; a
# link or anything someone other than Administrators or System owned there is reported as a
# sign of tampering, and what cannot be deleted stays in the folder moved aside.
#
# Every run leaves a trace, refusals included: its summary line and exit code go to the
# Application event log (source NakoraCleanup) and, once the folder is verified, to
# Logs\NakoraCleanup.log, which CMTrace and OneTrace read.
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
#         Once only for the same leftovers: when a restart since removed none of them, 1
#         ("still left after a restart") on every later run, until what is left changes or
#         an administrator deletes Logs\last-result.txt.
#   1618  another run is in progress: "retry" among an Intune Win32 app's default return
#         codes, "fast retry" among a deployment type's (same pages)
#   1     could not check, refused the folder, devcon.exe missing or unverified, hash
#         mismatch, the cleanup ran past its time limit or did not finish, or some is still
#         left after a restart
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
    $owner = Get-OwnerText $Path
    if ($item.Attributes -band [System.IO.FileAttributes]::ReparsePoint) { return "a link, owned by $owner" }
    if (-not $item.PSIsContainer) { return "a file, owned by $owner" }
    if ($owner -ne $Admins -and $owner -ne $System) { return "a folder owned by $owner" }
    return $null
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
    return Read-Check $report $code $TimeoutMinutes
}

function Get-Leftover([string]$Report) {
    # What the check found left, as one hash: the lines that decide its verdict, and its summary.
    $lines = @(Get-Content -LiteralPath $Report -Encoding Oem | ForEach-Object { $_.Trim() } |
            Where-Object { $_ -match '^(Nakora INF:|Driver file :|Registry key :|Nakora driver stack:)' } | Sort-Object)
    $sha = [System.Security.Cryptography.SHA256]::Create()
    try {
        $hash = $sha.ComputeHash([System.Text.Encoding]::UTF8.GetBytes($lines -join "`n"))
    } finally {
        $sha.Dispose()
    }
    return [System.BitConverter]::ToString($hash) -replace '-', ''
}

function Remove-LegacyTree([string]$Path) {
    # Deletes what is in $Path without following links, and returns what someone other than
    # Administrators or System owned there. A folder such a one owns is left as it is: its owner
    # may still put a link in it.
    foreach ($item in @(Get-ChildItem -LiteralPath $Path -Force)) {
        $owner = Get-OwnerText $item.FullName
        $foreign = $owner -ne $Admins -and $owner -ne $System
        $link = $item.Attributes -band [System.IO.FileAttributes]::ReparsePoint
        # The earlier kit made no links.
        if ($link) { "$($item.FullName) (a link)" } elseif ($foreign) { "$($item.FullName) (owned by $owner)" }
        try {
            if ($link) {
                # The link alone, never what it points to.
                if ($item.PSIsContainer) { [System.IO.Directory]::Delete($item.FullName) } else { [System.IO.File]::Delete($item.FullName) }
            } elseif (-not $item.PSIsContainer) {
                [System.IO.File]::SetAttributes($item.FullName, [System.IO.FileAttributes]::Normal)
                [System.IO.File]::Delete($item.FullName)
            } elseif (-not $foreign) {
                Remove-LegacyTree $item.FullName
                [System.IO.Directory]::Delete($item.FullName)
            }
        } catch {
            $null = $_  # left in the folder moved aside, which the log names
        }
    }
}

function Remove-Legacy {
    # The earlier kit's folder, where users may create files: an old assignment still running
    # from it would run what they put there as System.
    if (-not $env:ProgramData) { return }
    $legacy = Join-Path $env:ProgramData 'NakoraCleanup'
    $item = Get-Item -LiteralPath $legacy -Force -ErrorAction SilentlyContinue
    if (-not $item) { return }
    $isFolder = $item.PSIsContainer -and -not ($item.Attributes -band [System.IO.FileAttributes]::ReparsePoint)
    # The empty admin-only folder that an earlier run left in its place.
    if ($isFolder -and -not @(Get-ChildItem -LiteralPath $legacy -Force).Count -and -not (Get-FolderAccessProblem $legacy)) { return }
    $owner = Get-OwnerText $legacy
    $found = @()
    if ($owner -ne $Admins -and $owner -ne $System) { $found += "$legacy (owned by $owner)" }
    if (-not $isFolder) { $found += "$legacy (not a folder)" }
    # Moved first, under a name nobody can take first: renaming needs only the right to delete
    # it, which Administrators and System hold over ProgramData whatever its own rights say.
    # Nothing in it is then taken over or given other rights, which could reach through a link
    # made meanwhile; it is walked where no old assignment looks, never following a link.
    $aside = "$legacy.removed-$([guid]::NewGuid().ToString('N'))"
    if ($item.PSIsContainer) { [System.IO.Directory]::Move($legacy, $aside) } else { [System.IO.File]::Move($legacy, $aside) }
    $gone = $false
    try {
        if ($isFolder) { $found += @(Remove-LegacyTree $aside) }
        if ($item.PSIsContainer) { [System.IO.Directory]::Delete($aside) } else { [System.IO.File]::Delete($aside) }
        $gone = $true
    } catch {
        $gone = $false
    }
    # The name stays taken, by an empty folder only Administrators and System may change: an
    # old assignment finds nothing there to run, and no user can make the folder again.
    New-AdminFolder $legacy
    if ($gone) { Write-Notice "Removed the earlier kit's folder $legacy" 1 }
    else { Write-Notice "Moved the earlier kit's folder $legacy to $aside, which could not be deleted whole" 2 }
    if ($found.Count) {
        Write-Notice ("The earlier kit's folder held what someone other than Administrators or System made, " +
            "a sign of tampering: $(@($found | Select-Object -First 20) -join '; ')") 3
    }
}

function Move-StrangeItem {
    # Whatever the kit cannot trust in the folder goes, as it is, to a folder beside it.
    # Not the lock, which this run holds: if it cannot be trusted, the run refuses.
    $problems = @(Find-ItemProblem $Folder | Where-Object { $_.Path -ne (Join-Path $Folder $LockName) })
    if (-not $problems.Count) { return }
    $aside = "$Folder.aside-$(Get-Date -Format 'yyyyMMdd-HHmmss-fffffff')"
    New-AdminFolder $aside
    foreach ($problem in $problems) {
        $name = $problem.Path.Substring($Folder.Length + 1) -replace '[\\/]', '_'
        Move-Item -LiteralPath $problem.Path -Destination (Join-Path $aside $name)
        Write-Notice "Moved $($problem.Path) to $aside`: $($problem.Why)" 2
    }
}

function Write-Notice([string]$Line, [int]$Type) {
    # A step worth a line of output and of the log; a warning or an error also goes to the
    # event log, which holds it even before the folder is verified.
    Write-Output $Line
    Write-KitLog $Line $Type
    if ($Type -gt 1) { Write-KitEvent "$ScriptName`: $Line" 10 (@{ 2 = 'Warning'; 3 = 'Error' }[$Type]) }
}

function Complete-Run([int]$Code, [string]$Line) {
    if ($RunDir) {
        $record = @("exit=$Code", "time=$([DateTime]::UtcNow.ToString('o'))")
        if ($Kept.Left) { $record += "left=$($Kept.Left)", "asked=$($Kept.Asked.ToString('o'))" }
        Set-Content -LiteralPath (Join-Path $LogDir 'last-result.txt') -Encoding Ascii -Value $record
    }
    Write-Output $Line
    Write-Trace $Code $Line
    exit $Code
}

function Stop-Refused([string]$Why) {
    Complete-Run 1 "Nakora clean-up refused: $Why"
}

Exit-If32Bit $PSBoundParameters
# Programs named without a path are not looked for in the current directory: the folder
# comes first in the search path instead, so that cmd finds devcon.exe there.
$env:NoDefaultCurrentDirectoryInExePath = '1'
$RunDir = $null
$lock = $null
$Kept = @{ Left = $null; Asked = $null }
try {
    $source = Get-FullFolder $PSScriptRoot
    $Folder = Get-FullFolder $Folder
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
    $problem = Get-ParentAccessProblem $Folder
    if ($problem) { Stop-Refused "$Folder is not in an admin-only folder: $problem" }

    if (Test-Path -LiteralPath $Folder) {
        # Nobody but an administrator may decide whether the cleanup runs.
        $why = Get-SquatOwner $Folder
        $suffix = 'squatted'
        if (-not $why) {
            $problem = Get-FolderAccessProblem $Folder
            if ($problem) { $why = "it is not as the kit makes it: $problem" }
            $suffix = 'aside'
        }
        if ($why -and $inPlace) { Stop-Refused "$Folder is not admin-only: $why" }
        if ($why) {
            $aside = "$Folder.$suffix-$(Get-Date -Format 'yyyyMMdd-HHmmss')"
            # A link is moved as it is: taking it over could take over what it points to.
            if ($why -notlike 'a link*') { Grant-Takeover $Folder }
            Move-Item -LiteralPath $Folder -Destination $aside
            Write-Notice "Moved $Folder aside to $aside`: $why" 2
        }
    }
    if (-not (Test-Path -LiteralPath $Folder)) { New-AdminFolder $Folder }
    $entry = Enter-Kit $Folder $TimeoutMinutes
    $lock = $entry.Lock
    if ($entry.Code -eq 1618) { Complete-Run 1618 'Nakora driver stack: could not check (another run is in progress)' }
    if ($entry.Problem) { Stop-Refused $entry.Problem }

    try {
        Remove-Legacy
    } catch {
        Write-Notice "Could not remove the earlier kit's folder: $($_.Exception.Message)" 3
    }
    Move-StrangeItem
    $problem = Get-ItemProblem $Folder
    if ($problem) { Stop-Refused $problem }
    Enable-KitLog $Folder
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
    if ($StageOnly) { Complete-Run 0 "Nakora clean-up kit staged in $Folder" }

    $env:PATH = $Folder + [System.IO.Path]::PathSeparator + $env:PATH
    $LogDir = Join-Path $Folder 'Logs'
    $previous = $null
    try { $previous = Get-LastResult $LogDir } catch { $previous = $null }
    if ($previous) {
        $Kept = @{ Left = $previous.Left; Asked = $previous.Asked }
        # A record of an earlier version, which kept no leftovers: its 3010 stands for them.
        if (-not $Kept.Left -and $previous.Code -eq '3010') { $Kept = @{ Left = '*'; Asked = $previous.Time } }
        # Leftovers without the time 3010 was answered for them are no record to go by.
        if (-not $Kept.Asked) { $Kept = @{ Left = $null; Asked = $null } }
    }
    # To the ten-millionth of a second, and never an existing one: runs never share a folder.
    $RunDir = Join-Path $LogDir (Get-Date -Format 'yyyyMMdd-HHmmss-fffffff')
    $null = New-Item -ItemType Directory -Path $LogDir -Force
    $null = New-Item -ItemType Directory -Path $RunDir
    $old = @(Get-ChildItem -LiteralPath $LogDir -Directory | Where-Object { $_.Name -match $RunName } |
            Sort-Object Name -Descending | Select-Object -Skip ([Math]::Max(1, $KeepRuns)))
    foreach ($dir in $old) { Remove-Item -LiteralPath $dir.FullName -Recurse -Force }

    $before = Invoke-Check 'before'
    Write-Notice "Check before: $($before.Line)" 1
    if ($null -eq $before.Code) { Complete-Run 1 $before.Line }
    if ($before.Code -eq 0) {
        $Kept = @{ Left = $null; Asked = $null }
        Complete-Run 0 $before.Line
    }

    $report = Join-Path $RunDir 'cleanup.txt'
    $code = Invoke-Tool 'CleanupNakoraDrivers.exe' $report $TimeoutMinutes $CleanupListings
    Move-Listing $CleanupListings ''
    if ($null -eq $code) {
        Complete-Run 1 "Nakora clean-up stopped: it ran past $TimeoutMinutes minutes; its partial report is $report"
    }
    if ($code -ne 0) { Complete-Run 1 "Nakora clean-up did not finish (exit code $code); its report is $report" }
    Write-Notice "Cleanup: $(Get-Summary $report)" 1

    $after = Invoke-Check 'after'
    if ($after.Code -eq 0) {
        $Kept = @{ Left = $null; Asked = $null }
        Complete-Run 0 $after.Line
    }
    if ($after.Code -eq 1) {
        $left = Get-Leftover (Join-Path $RunDir 'check-after.txt')
        $line = "$($after.Line) (restart, then run again)"
        if (-not $Kept.Asked -or ($Kept.Left -ne $left -and $Kept.Left -ne '*')) {
            $Kept = @{ Left = $left; Asked = [DateTime]::UtcNow }
            Complete-Run 3010 $line
        }
        $Kept.Left = $left
        # 3010 once for the same leftovers: what a restart did not remove, another will not either.
        if ($Kept.Asked -lt (Get-LastBootTime)) { Complete-Run 1 "$($after.Line) (still left after a restart)" }
        Complete-Run 3010 $line
    }
    Complete-Run 1 $after.Line
} catch {
    Complete-Run 1 "Nakora clean-up failed: $($_.Exception.Message)"
} finally {
    Exit-RunLock $lock
}
