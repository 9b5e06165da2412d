# What the install and the detection share: the install's record of its last run, a tool run
# under a time limit, and the check's verdict read from its report.

# The record, Logs\last-result.txt: "exit=<code>" and "time=<UTC, round-trip format>"; after a
# 3010, also "left=<what the check found left, hashed>" and "asked=<when 3010 was first answered
# for it>", kept until what is left changes or the check finds none.
function Get-LastBootTime {
    (Get-CimInstance -ClassName Win32_OperatingSystem).LastBootUpTime.ToUniversalTime()
}

function Get-LastResult([string]$LogDir) {
    # Returns @{ Code; Time; Left; Asked }, or $null when there is no whole record.
    $record = Join-Path $LogDir 'last-result.txt'
    if (-not (Test-Path -LiteralPath $record -PathType Leaf)) { return $null }
    $fields = @{ left = $null; asked = $null }
    foreach ($line in Get-Content -LiteralPath $record) {
        if ($line -match '^(\w+)=(.*)$') { $fields[$Matches[1]] = $Matches[2] }
    }
    if (-not $fields.ContainsKey('exit') -or -not $fields.ContainsKey('time')) { return $null }
    $time = @()
    foreach ($name in 'time', 'asked') {
        if ($fields[$name]) {
            $time += [DateTime]::Parse($fields[$name], [Globalization.CultureInfo]::InvariantCulture,
                [Globalization.DateTimeStyles]::RoundtripKind).ToUniversalTime()
        } else {
            $time += $null
        }
    }
    return @{ Code = $fields['exit']; Time = $time[0]; Left = $fields['left']; Asked = $time[1] }
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

function Get-Summary([string]$Report) {
    # A tool's last line. Its report is single bytes: read as the console's code page in either
    # edition, where 5.1 would take ANSI and PowerShell 7 UTF-8.
    $lines = @(Get-Content -LiteralPath $Report -Encoding Oem -ErrorAction SilentlyContinue | Where-Object { $_.Trim() })
    if ($lines.Count) { return $lines[-1].Trim() }
    return '(no output)'
}

function Read-Check([string]$Report, $Code, [double]$Minutes) {
    # The check's verdict as @{ Code; Line }: its exit code counts only with its summary line,
    # the last it prints. Code is $null when it could not check.
    if ($null -eq $Code) { return @{ Code = $null; Line = "Nakora driver stack: could not check (the check ran past $Minutes minutes)" } }
    if ($Code -notin 0, 1, 2) { return @{ Code = $null; Line = "Nakora driver stack: could not check (CheckNakoraDrivers.exe exit code $Code)" } }
    $line = Get-Summary $Report
    if ($line -notlike 'Nakora driver stack: *') {
        return @{ Code = $null; Line = 'Nakora driver stack: could not check (the check printed no summary)' }
    }
    if ($Code -eq 2) { return @{ Code = $null; Line = $line } }
    return @{ Code = $Code; Line = $line }
}
