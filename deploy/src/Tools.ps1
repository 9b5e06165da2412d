# What the install and the detection share: the install's record of its last run, and a
# tool run under a time limit.

# The record: "exit=<code>" and "time=<UTC, round-trip format>" in Logs\last-result.txt.
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

function Stop-ToolTree([int]$Id) {
    # Windows only. The tool's cmd and devcon go with it: a hung devcon would outlive every
    # later cycle. Windows PowerShell 5.1 wraps a native program's stderr in errors that
    # 'Stop' makes fatal (PowerShell 7.1 stopped that:
    # https://github.com/PowerShell/PowerShell/pull/13361), and taskkill complains of a child
    # that ended meanwhile.
    $ErrorActionPreference = 'Continue'
    $null = & taskkill.exe /PID $Id /T /F 2>&1
}

function Invoke-Tool([string]$Name, [string]$Report, [double]$Minutes, [string[]]$Listings) {
    # Runs $Name from the folder, its output in $Report. Returns the exit code, or $null when
    # the time limit passed and the tool was stopped. Listings a stopped run left behind must
    # not pass for this run's.
    foreach ($listing in $Listings) { Remove-Item -LiteralPath (Join-Path $Folder $listing) -ErrorAction SilentlyContinue }
    $process = Start-Process -FilePath (Join-Path $Folder $Name) -WorkingDirectory $Folder -NoNewWindow -PassThru `
        -RedirectStandardOutput $Report -RedirectStandardError "$Report.stderr"
    $null = $process.Handle  # without it, Windows PowerShell 5.1 loses the exit code
    # Clamped: WaitForExit takes an [int] of milliseconds, which a long limit overflows.
    if (-not $process.WaitForExit([int][Math]::Min([int]::MaxValue, $Minutes * 60000))) {
        Stop-ToolTree $process.Id
        $null = $process.WaitForExit(30000)
        return $null
    }
    $process.WaitForExit()
    return $process.ExitCode
}
