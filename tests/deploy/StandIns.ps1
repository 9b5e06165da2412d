# Stand-ins for the kit's executables, dot-sourced by the deploy tests.
#
# Each run of a stand-in appends its current directory to $env:NK_PLAN_DIR/<name>.calls and
# its process id to <name>.pid, its NoDefaultCurrentDirectoryInExePath and first PATH entry to
# <name>.env ("<value>|<entry>"), takes the matching line of <name>.plan ("<exit code> <seconds
# to sleep> <summary>"; the last line repeats), writes the listings its real program would
# (unless <name>.quiet exists), prints the summary, sleeps and exits with the code. On Linux
# a stand-in is a shell script, which PowerShell runs by path whatever its name; on Windows
# a console program compiled by Add-Type.
# Its arguments go to <name>.args, one a line; with <name>.stderr, the summary to standard error.

$script:StandInExe = $null
$script:OnUnix = [System.Environment]::OSVersion.Platform -eq [System.PlatformID]::Unix

# The kit's Windows-only steps, which the tests replace. Mock needs each to exist here, with its
# parameters; the scripts' own definitions lose to the mocks.
function Get-FolderAccessProblem([string]$Path) {}
function Get-OwnerSid([string]$Path) {}
function Get-WriterSid([string]$Path) {}
function New-LockFile([string]$Path) {}
function New-AdminFolder([string]$Path) {}
function Grant-Takeover([string]$Path) {}
function Get-SignerSubject([string]$Path) {}
function Get-ParentAccessProblem([string]$Path) {}
function Write-KitEvent([string]$Text, [int]$Id, [string]$Type) {}
function Get-LastBootTime {}
function Stop-ToolTree([int]$Id) {}
function Get-AdminFolderSecurity {}
function Write-Failure([string]$Line) {}
function Test-Wow64 {}
function Start-Native64([string[]]$Arguments) {}

# What they become: the test's folders admin-only and the kit's alone, devcon.exe signed. The
# steps on rights and signatures, a test on Windows may leave to the kit.
$script:RightsSteps = 'Get-FolderAccessProblem', 'Get-OwnerSid', 'Get-WriterSid', 'New-LockFile', 'New-AdminFolder',
    'Grant-Takeover', 'Get-SignerSubject'
$script:WindowsSteps = [ordered]@{
    'Get-FolderAccessProblem' = { $null }
    'Get-OwnerSid' = { 'S-1-5-32-544' }
    'Get-WriterSid' = { $null }
    'New-LockFile' = { $null = New-Item -ItemType File -Path $Path }
    'New-AdminFolder' = { $null = New-Item -ItemType Directory -Path $Path }
    'Grant-Takeover' = {}
    'Get-SignerSubject' = { 'CN=Microsoft Corporation, O=Microsoft Corporation, L=Redmond, S=Washington, C=US' }
    # Test folders lie under folders of the account that runs the tests.
    'Get-ParentAccessProblem' = { $null }
    'Write-KitEvent' = {}
    'Get-LastBootTime' = { [DateTime]::UtcNow.AddHours(-1) }
}

function Set-WindowsSteps([string[]]$Except = @()) {
    # For one test, from BeforeEach: each step but those in -Except replaced.
    foreach ($name in $script:WindowsSteps.Keys) {
        if ($name -notin $Except) { Mock $name $script:WindowsSteps[$name] }
    }
    # Windows kills the tree with taskkill; here the stand-in alone will do.
    if ($script:OnUnix) { Mock Stop-ToolTree { Stop-Process -Id $Id -Force } }
    # Each run must set it for the tools, whatever an earlier one left in this process.
    Remove-Item Env:NoDefaultCurrentDirectoryInExePath -ErrorAction SilentlyContinue
}

function Get-WindowsStepsPrelude {
    # The same steps replaced in a PowerShell of its own: by aliases, which win over the script's
    # functions as Mock's do. No double quotes: the command line carries it.
    -join @(foreach ($name in $script:WindowsSteps.Keys) {
        "function Stub-$name([string]`$Path) {$($script:WindowsSteps[$name])}; Set-Alias $name Stub-$name; "
    })
}

$script:StandInShell = @'
#!/bin/sh
name=$(basename "$0" .exe)
pwd >> "$NK_PLAN_DIR/$name.calls"
echo $$ > "$NK_PLAN_DIR/$name.pid"
echo "${NoDefaultCurrentDirectoryInExePath-}|${PATH%%:*}" > "$NK_PLAN_DIR/$name.env"
printf '%s\n' "$@" > "$NK_PLAN_DIR/$name.args"
n=$(wc -l < "$NK_PLAN_DIR/$name.calls")
line=$(sed -n "${n}p" "$NK_PLAN_DIR/$name.plan")
[ -n "$line" ] || line=$(tail -n 1 "$NK_PLAN_DIR/$name.plan")
code=${line%% *}; rest=${line#* }; seconds=${rest%% *}; summary=${rest#* }
case $name in
  CheckNakoraDrivers) prefix=check- ;;
  *) prefix= ;;
esac
[ -e "$NK_PLAN_DIR/$name.quiet" ] || for listing in devicelist audiodevicelist driverlist; do echo "$name" > "$prefix$listing.txt"; done
echo "$name stand-in"
if [ -e "$NK_PLAN_DIR/$name.stderr" ]; then echo "$summary" >&2; else echo "$summary"; fi
sleep "$seconds"
exit "$code"
'@

$script:StandInSource = @'
using System;
using System.IO;
using System.Threading;
public static class StandIn {
    public static int Main(string[] args) {
        string name = Path.GetFileNameWithoutExtension(System.Diagnostics.Process.GetCurrentProcess().MainModule.FileName);
        string dir = Environment.GetEnvironmentVariable("NK_PLAN_DIR");
        string calls = Path.Combine(dir, name + ".calls");
        File.AppendAllText(calls, Environment.CurrentDirectory + "\n");
        File.WriteAllText(Path.Combine(dir, name + ".pid"), System.Diagnostics.Process.GetCurrentProcess().Id + "\n");
        File.WriteAllText(Path.Combine(dir, name + ".env"), Environment.GetEnvironmentVariable("NoDefaultCurrentDirectoryInExePath") + "|" +
            Environment.GetEnvironmentVariable("PATH").Split(Path.PathSeparator)[0] + "\n");
        File.WriteAllLines(Path.Combine(dir, name + ".args"), args);
        string[] plan = File.ReadAllLines(Path.Combine(dir, name + ".plan"));
        int n = File.ReadAllLines(calls).Length;
        string[] parts = plan[Math.Min(n, plan.Length) - 1].Split(new char[] { ' ' }, 3);
        string prefix = name == "CheckNakoraDrivers" ? "check-" : "";
        if (!File.Exists(Path.Combine(dir, name + ".quiet"))) {
            foreach (string listing in new string[] { "devicelist", "audiodevicelist", "driverlist" }) {
                File.WriteAllText(prefix + listing + ".txt", name + "\n");
            }
        }
        Console.WriteLine(name + " stand-in");
        (File.Exists(Path.Combine(dir, name + ".stderr")) ? Console.Error : Console.Out).WriteLine(parts[2]);
        Console.Out.Flush();
        Thread.Sleep(int.Parse(parts[1]) * 1000);
        return int.Parse(parts[0]);
    }
}
'@

function New-StandIn([string]$Path) {
    if ($script:OnUnix) {
        Set-Content -LiteralPath $Path -Value $script:StandInShell -NoNewline
        & chmod +x $Path
    } else {
        # Compiled once per session: Add-Type takes a type name only once.
        if (-not $script:StandInExe) {
            $script:StandInExe = Join-Path ([System.IO.Path]::GetTempPath()) "nk-standin-$PID.exe"
            Add-Type -TypeDefinition $script:StandInSource -OutputAssembly $script:StandInExe -OutputType ConsoleApplication
        }
        Copy-Item -LiteralPath $script:StandInExe -Destination $Path
    }
}

function New-Kit([string]$Dir) {
    # The release zip's files flattened into $Dir, with a devcon.exe of the organisation's own.
    $null = New-Item -ItemType Directory -Path $Dir -Force
    $lines = @(foreach ($name in 'CleanupNakoraDrivers.exe', 'CheckNakoraDrivers.exe') {
        New-StandIn (Join-Path $Dir $name)
        $hash = (Get-FileHash -LiteralPath (Join-Path $Dir $name) -Algorithm SHA256).Hash.ToLower()
        "$hash  $name"
    })
    # As in the package: other files too, the kit's under deploy/.
    $lines += @("$('0' * 64)  README.txt", "$('1' * 64)  deploy/Install-NakoraCleanup.ps1")
    [System.IO.File]::WriteAllText((Join-Path $Dir 'SHA256SUMS'), (($lines -join "`r`n") + "`r`n"))
    Set-Content -LiteralPath (Join-Path $Dir 'devcon.exe') -Value 'devcon'
    # As the install records it once devcon.exe is verified.
    Set-Content -LiteralPath (Join-Path $Dir 'devcon.sha256') -Value (Get-FileHash -LiteralPath (Join-Path $Dir 'devcon.exe')).Hash
    foreach ($script in 'Install-NakoraCleanup.ps1', 'Test-NakoraDrivers.ps1', 'Repair-NakoraDrivers.ps1') {
        Copy-Item -LiteralPath (Join-Path $PSScriptRoot "../../deploy/$script") -Destination $Dir
    }
}

function New-TestRun {
    # A fresh directory for one test, with the stand-ins' plan folder in it; returns the directory.
    $dir = Join-Path $TestDrive ([guid]::NewGuid())
    $env:NK_PLAN_DIR = Join-Path $dir 'plan'
    $null = New-Item -ItemType Directory -Path $env:NK_PLAN_DIR
    return $dir
}

function Set-Plan([string]$Name, [string[]]$Lines) {
    Set-Content -LiteralPath (Join-Path $env:NK_PLAN_DIR "$Name.plan") -Value $Lines
}

function Get-CallCount([string]$Name) {
    $calls = Join-Path $env:NK_PLAN_DIR "$Name.calls"
    if (-not (Test-Path -LiteralPath $calls)) { return 0 }
    return @(Get-Content -LiteralPath $calls).Count
}

function Get-LastLine($Output) {
    $lines = @($Output | ForEach-Object { "$_" } | Where-Object { $_.Trim() })
    if ($lines.Count) { return $lines[-1] }
    return $null
}
