# The kit's folder, the lock and the 64-bit relaunch: what all three scripts share.
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
    # The staged folder, checked before anything in it is trusted or run.
    $problem = Get-FolderAccessProblem $Path
    if ($problem) { return "$Path is not admin-only: $problem" }
    $problem = Get-ItemProblem $Path
    if (-not $problem) { $problem = Get-DevconRecordProblem $Path }
    return $problem
}
