# The kit's folder, the lock, the 64-bit relaunch and each run's trace (the event log and the
# CMTrace log): what all three scripts share.
$Admins = 'S-1-5-32-544'
$System = 'S-1-5-18'
$Users = 'S-1-5-32-545'
$Ours = @('CleanupNakoraDrivers.exe', 'CheckNakoraDrivers.exe')
$Kit = $Ours + @('devcon.exe', 'SHA256SUMS', 'Install-NakoraCleanup.ps1', 'Test-NakoraDrivers.ps1',
    'Repair-NakoraDrivers.ps1')
$DevconRecord = 'devcon.sha256'
$CleanupListings = @('devicelist.txt', 'audiodevicelist.txt', 'driverlist.txt')
$CheckListings = @($CleanupListings | ForEach-Object { "check-$_" })
$RunName = '^\d{8}-\d{6}(-\d{7})?$'
$TrustedInstaller = 'S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464'
$LockName = 'run.lock'
$LogName = 'NakoraCleanup.log'
$EventSource = 'NakoraCleanup'
$ScriptName = [System.IO.Path]::GetFileNameWithoutExtension($PSCommandPath)
$KitLog = $null

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

function Get-OwnerText([string]$Path) {
    # The owner's SID, or what to call it when its rights cannot be read.
    try { return Get-OwnerSid $Path } catch { return 'someone who denies reading its rights' }
}

function Exit-If32Bit($Bound) {
    # Intune starts an install command as a 32-bit process: the run is made again by 64-bit
    # Windows PowerShell, which sees the real System32 and Program Files, and ends with its code.
    if (-not (Test-Wow64)) { return }
    Start-Native64 @(Get-RelaunchArgument $Bound)
    exit $LASTEXITCODE
}

function Get-FullFolder([string]$Path) {
    # Whole, so that the folders above it can be checked; resolved as PowerShell does, which a
    # caller's Set-Location moves and .NET's current directory does not.
    $ExecutionContext.SessionState.Path.GetUnresolvedProviderPathFromPSPath($Path).TrimEnd('\', '/')
}

function Test-Wow64 {
    [Environment]::Is64BitOperatingSystem -and -not [Environment]::Is64BitProcess -and [bool]$PSCommandPath
}

function Write-Failure([string]$Line) {
    # Plain text on standard error, not an error record that 'Stop' would end the run with.
    [Console]::Error.WriteLine($Line)
}

function Start-Native64([string[]]$Arguments) {
    # Passes the 64-bit run's output through, its error lines as plain text, and leaves its exit
    # code in $LASTEXITCODE (1 when it did not start). Windows PowerShell 5.1 makes a native
    # program's standard error into error records when its streams are redirected or it has no
    # console window of its own, as under an agent; under 'Stop' the first would end this run
    # with an exit code of its own (https://github.com/PowerShell/PowerShell/issues/3996).
    $ErrorActionPreference = 'Continue'
    $global:LASTEXITCODE = 1
    & "$env:SystemRoot\Sysnative\WindowsPowerShell\v1.0\powershell.exe" -NoProfile -NonInteractive `
        -ExecutionPolicy Bypass -File $PSCommandPath @Arguments 2>&1 | ForEach-Object {
        if ($_ -is [System.Management.Automation.ErrorRecord]) { Write-Failure "$_" } else { "$_" }
    }
}

function Get-WriterSid([string]$Path) {
    # Windows only. Anyone but Administrators and System whom a rule lets change the item, its
    # rights or, for a folder, what is in it; else $null.
    $write = 0x50000000 -bor [int][System.Security.AccessControl.FileSystemRights]'CreateFiles, AppendData, WriteExtendedAttributes, DeleteSubdirectoriesAndFiles, WriteAttributes, Delete, ChangePermissions, TakeOwnership'
    foreach ($rule in (Get-Acl -LiteralPath $Path).GetAccessRules($true, $true, [System.Security.Principal.SecurityIdentifier])) {
        $sid = $rule.IdentityReference.Value
        if ($rule.AccessControlType -eq 'Allow' -and $sid -ne $Admins -and $sid -ne $System -and
            ([int]$rule.FileSystemRights -band $write)) { return $sid }
    }
    return $null
}

function Find-ItemProblem([string]$Path, [string]$Level = 'Folder') {
    # Each item the kit cannot trust, as @{ Path; Why }; what is in one is not looked at. Walks
    # the tree without following links. An owner may always rewrite an item's rights, so only
    # Administrators and System may own one, and no one else may be let write it; only the
    # kit's names stand where they count.
    foreach ($item in @(Get-ChildItem -LiteralPath $Path -Force)) {
        $why = $null
        $known = $true
        if ($Level -eq 'Folder' -and $item.PSIsContainer) { $known = $item.Name -eq 'Logs' }
        if ($Level -eq 'Folder' -and -not $item.PSIsContainer) {
            $known = ($Kit + $DevconRecord + $LockName + $CheckListings + $CleanupListings) -contains $item.Name
        }
        if ($Level -eq 'Logs' -and $item.PSIsContainer) { $known = $item.Name -match $RunName }
        if ($Level -eq 'Logs' -and -not $item.PSIsContainer) {
            $known = $item.Name -match '\.txt(\.stderr)?$' -or $item.Name -eq $LogName -or $item.Name -eq ($LogName -replace 'g$', '_')
        }
        if (-not $known) { $why = "$Path holds $($item.Name), which the kit did not put there" }
        if (-not $why -and ($item.Attributes -band [System.IO.FileAttributes]::ReparsePoint)) { $why = "$($item.FullName) is a link or junction" }
        if (-not $why) {
            $owner = Get-OwnerText $item.FullName
            $writer = $null
            if ($owner -eq $Admins -or $owner -eq $System) {
                try { $writer = Get-WriterSid $item.FullName } catch { $writer = $null }
            }
            if ($owner -ne $Admins -and $owner -ne $System) { $why = "$($item.FullName) is owned by $owner" }
            elseif ($writer) { $why = "$($item.FullName) lets $writer change it" }
        }
        if ($why) {
            @{ Path = $item.FullName; Why = $why }
        } elseif ($item.PSIsContainer) {
            $next = 'Run'
            if ($Level -eq 'Folder') { $next = 'Logs' }
            Find-ItemProblem $item.FullName $next
        }
    }
}

function Get-ItemProblem([string]$Path) {
    $problem = @(Find-ItemProblem $Path | Select-Object -First 1)
    if ($problem.Count) { return $problem[0].Why }
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

function Get-ParentAccessProblem([string]$Path) {
    # Windows only. Whoever may create in the folder's parent may take its name first; whoever
    # may rename, delete or take over a folder above it may put another in its place.
    $trusted = @($Admins, $System, $TrustedInstaller)
    $replace = 0x50000000 -bor [int][System.Security.AccessControl.FileSystemRights]'DeleteSubdirectoriesAndFiles, Delete, ChangePermissions, TakeOwnership'
    $mask = $replace -bor [int][System.Security.AccessControl.FileSystemRights]'CreateFiles, CreateDirectories'
    $parent = [System.IO.Path]::GetDirectoryName($Path)
    while ($parent) {
        if ((Get-Item -LiteralPath $parent -Force).Attributes -band [System.IO.FileAttributes]::ReparsePoint) {
            return "$parent is a link or junction"
        }
        $acl = Get-Acl -LiteralPath $parent
        $owner = $acl.GetOwner([System.Security.Principal.SecurityIdentifier]).Value
        if ($trusted -notcontains $owner) { return "$parent is owned by $owner" }
        foreach ($rule in $acl.GetAccessRules($true, $true, [System.Security.Principal.SecurityIdentifier])) {
            $sid = $rule.IdentityReference.Value
            if ($rule.AccessControlType -eq 'Allow' -and $trusted -notcontains $sid -and ([int]$rule.FileSystemRights -band $mask) -and
                -not ($rule.PropagationFlags -band [System.Security.AccessControl.PropagationFlags]::InheritOnly)) {
                return "$parent lets $sid write to it"
            }
        }
        $mask = $replace
        $parent = [System.IO.Path]::GetDirectoryName($parent)
    }
    return $null
}

function Get-PlaceProblem([string]$Path) {
    # What must hold before anything in the folder, the lock first, is trusted.
    $problem = Get-ParentAccessProblem $Path
    if ($problem) { return "$Path is not in an admin-only folder: $problem" }
    if (-not (Test-Path -LiteralPath $Path -PathType Container)) { return "$Path is missing" }
    if ((Get-Item -LiteralPath $Path -Force).Attributes -band [System.IO.FileAttributes]::ReparsePoint) { return "$Path is a link or junction" }
    $problem = Get-FolderAccessProblem $Path
    if ($problem) { return "$Path is not admin-only: $problem" }
    return $null
}

function New-LockFile([string]$Path) {
    # Windows only. Made with its rights, System's and Administrators' alone, so that no user
    # may ever open it, and so never hold it.
    $security = New-Object System.Security.AccessControl.FileSecurity
    $security.SetSecurityDescriptorSddlForm('O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)')
    $rights = [System.Security.AccessControl.FileSystemRights]::FullControl
    if ($PSVersionTable.PSEdition -eq 'Desktop') {
        $stream = New-Object System.IO.FileStream($Path, [System.IO.FileMode]::CreateNew, $rights,
            [System.IO.FileShare]::None, 4096, [System.IO.FileOptions]::None, $security)
    } else {
        $stream = [System.IO.FileSystemAclExtensions]::Create([System.IO.FileInfo]$Path, [System.IO.FileMode]::CreateNew,
            $rights, [System.IO.FileShare]::None, 4096, [System.IO.FileOptions]::None, $security)
    }
    $stream.Dispose()
}

function Enter-RunLock([string]$Path, [double]$Minutes) {
    # One run at a time in the folder: runs share it, its listings and its logs. The
    # lock is a file in the admin-only folder, held open with no sharing: any user may create
    # and hold a Global\ mutex (Microsoft, "Kernel object namespaces"), no user may open this.
    # Waits a minute at most, or the time limit when that is shorter.
    $lock = Join-Path $Path $LockName
    $deadline = [DateTime]::UtcNow.AddSeconds([Math]::Min(60, $Minutes * 60))
    while ($true) {
        if (-not (Test-Path -LiteralPath $lock)) {
            try { New-LockFile $lock } catch { if (-not (Test-Path -LiteralPath $lock)) { throw } }
        }
        try {
            return [System.IO.File]::Open($lock, [System.IO.FileMode]::Open, [System.IO.FileAccess]::ReadWrite, [System.IO.FileShare]::None)
        } catch [System.IO.IOException] {
            # Held by another run.
        }
        if ([DateTime]::UtcNow -ge $deadline) { return $null }
        Start-Sleep -Milliseconds 250
    }
}

function Exit-RunLock($Lock) {
    if ($Lock) { $Lock.Dispose() }
}

function Enter-Kit([string]$Path, [double]$Minutes) {
    # How a run of a staged kit starts: its place checked before anything in it is trusted, then
    # its log, then the lock. Gives the lock, or why the run cannot go on and its exit code.
    $problem = Get-PlaceProblem $Path
    if ($problem) { return @{ Lock = $null; Problem = $problem; Code = 1 } }
    Enable-KitLog $Path
    $lock = Enter-RunLock $Path $Minutes
    if (-not $lock) { return @{ Lock = $null; Problem = 'another run is in progress'; Code = 1618 } }
    return @{ Lock = $lock; Problem = $null; Code = 0 }
}

function Get-RelaunchArgument($Bound) {
    # Windows PowerShell 5.1 passes a native program no empty argument at all, and puts a value
    # with a blank in quotes as it is, where a trailing backslash would escape the closing quote.
    # An empty value is left out: the 64-bit run takes the default instead.
    $legacy = (Get-Variable PSNativeCommandArgumentPassing -ValueOnly -ErrorAction SilentlyContinue) -in $null, 'Legacy'
    foreach ($key in $Bound.Keys) {
        $value = $Bound[$key]
        if ($value -is [System.Management.Automation.SwitchParameter]) {
            if ($value.IsPresent) { "-$key" }
        } elseif ("$value" -ne '') {
            "-$key"
            if ($legacy -and "$value" -match '\s') { "$value" -replace '(\\+)$', '$1$1' } else { "$value" }
        }
    }
}

function Get-KitProblem([string]$Path) {
    # Checked under the lock, before anything in the folder is run.
    $problem = Get-ItemProblem $Path
    if (-not $problem) { $problem = Get-DevconRecordProblem $Path }
    return $problem
}

function Write-KitEvent([string]$Text, [int]$Id, [string]$Type) {
    # Windows only. The Application log, under the kit's own source: registered by the first
    # run of any of the scripts, which all run as System or an administrator. Never a reason
    # for a run to fail.
    try {
        if (-not [System.Diagnostics.EventLog]::SourceExists($EventSource)) {
            [System.Diagnostics.EventLog]::CreateEventSource($EventSource, 'Application')
        }
        [System.Diagnostics.EventLog]::WriteEntry($EventSource, $Text, $Type, $Id)
    } catch {
        $null = $_
    }
}

function Enable-KitLog([string]$Path) {
    # Once the folder is verified: Logs\NakoraCleanup.log, unless it or Logs is a link.
    $script:KitLog = $null
    $logs = Join-Path $Path 'Logs'
    foreach ($name in $logs, (Join-Path $logs $LogName)) {
        $item = Get-Item -LiteralPath $name -Force -ErrorAction SilentlyContinue
        if ($item -and $item.Attributes -band [System.IO.FileAttributes]::ReparsePoint) { return }
        if ($name -eq $logs -and $item -and -not $item.PSIsContainer) { return }
        if ($name -eq $logs -and -not $item) { $null = New-Item -ItemType Directory -Path $logs -Force }  # two first runs at once
    }
    $script:KitLog = Join-Path $logs $LogName
}

function Write-KitLog([string]$Text, [int]$Type = 1) {
    # One line in the format of Configuration Manager's logs, which CMTrace and OneTrace read;
    # type 1 information, 2 warning, 3 error. The time is UTC with a bias of +000: a negative
    # bias is misread. At 1 MB the log becomes NakoraCleanup.lo_, as Configuration Manager's
    # own do (https://learn.microsoft.com/mem/configmgr/core/plan-design/hierarchy/about-log-files).
    if (-not $KitLog) { return }
    try {
        $item = Get-Item -LiteralPath $KitLog -Force -ErrorAction SilentlyContinue
        if ($item -and $item.Length -gt 1MB) { Move-Item -LiteralPath $KitLog -Destination ($KitLog -replace 'g$', '_') -Force }
        $now = [DateTime]::UtcNow
        $line = '<![LOG[{0}]LOG]!><time="{1}+000" date="{2}" component="{3}" context="" type="{4}" thread="{5}" file="">' -f
            ($Text -replace '[\r\n]+', ' '), $now.ToString('HH:mm:ss.fff', [Globalization.CultureInfo]::InvariantCulture),
            $now.ToString('MM-dd-yyyy', [Globalization.CultureInfo]::InvariantCulture), $ScriptName, $Type, $PID
        $stream = [System.IO.File]::Open($KitLog, [System.IO.FileMode]::Append, [System.IO.FileAccess]::Write, [System.IO.FileShare]::ReadWrite)
        try {
            $bytes = [System.Text.Encoding]::UTF8.GetBytes($line + "`r`n")
            $stream.Write($bytes, 0, $bytes.Length)
        } finally {
            $stream.Dispose()
        }
    } catch {
        $null = $_  # a log that cannot be written does not stop the run
    }
}

function Write-Trace([int]$Code, [string]$Line, [string]$Type = '') {
    # Every run's trace: its summary line and exit code in the log and the event log.
    if (-not $Type) {
        $Type = 'Error'
        if ($Code -eq 0) { $Type = 'Information' }
        if ($Code -eq 3010 -or $Code -eq 1618) { $Type = 'Warning' }
    }
    Write-KitLog "$Line (exit code $Code)" (@{ Information = 1; Warning = 2; Error = 3 }[$Type])
    Write-KitEvent "$ScriptName`: $Line (exit code $Code)" $Code $Type
}
