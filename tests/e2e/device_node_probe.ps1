# Lays out one device node of each kind the end-to-end scenarios lay out, with the tree
# stand-in, says for each whether Windows made it, and removes them again. Microsoft shows
# SetupAPI creating nodes under ROOT only; the scenarios also need USB, HID and SWD\MMDEVAPI.
# What nkdevtree prints for a refused node names the step and Windows' error code.
# Exit code 1 when a node is left behind, which would spoil the scenarios, or when the tree
# stand-in cannot be found or run; 0 otherwise.
param([string]$DevTree = (Join-Path $env:NK_STANDINS 'nkdevtree.exe'), [string]$Folder = $env:RUNNER_TEMP)
Set-StrictMode -Version Latest
$ErrorActionPreference = 'Stop'

$ids = 'ROOT\NKPROBE\0000', 'USB\VID_0000&PID_0000\NKPROBE', 'HID\VID_0000&PID_0000\NKPROBE',
    'SWD\MMDEVAPI\{0.0.0.00000000}.{NKPROBE}'
# A line a node: instance ID, hardware IDs, compatible IDs, description, friendly name.
$file = Join-Path $Folder 'nkdevtree-probe.txt'
$lines = foreach ($id in $ids) { "$id`t$($id.Substring(0, $id.LastIndexOf('\')))`t`tnkdevtree probe`t`n" }
[System.IO.File]::WriteAllText($file, -join $lines)

& $DevTree add $file
Write-Output "nkdevtree add: exit code $LASTEXITCODE"
$made = @(& $DevTree list)
foreach ($id in $ids) {
    if ($made -contains $id) { Write-Output "${id}: made" } else { Write-Output "${id}: not made" }
}
& $DevTree remove $file
$left = @(& $DevTree list | Where-Object { $ids -contains $_ })
if ($left) {
    Write-Output "nkdevtree remove left $($left -join ', ')"
    exit 1
}
exit 0
