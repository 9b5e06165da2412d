# Runs the Pester suite of tests/deploy; the same under PowerShell 7 on Debian and under
# Windows PowerShell 5.1 in CI. -Pester names a Pester.psd1 by its path, to load that version
# and no other.
# Exit code 0 only when tests ran and none failed.
param([string]$Pester = 'Pester')
Set-StrictMode -Version Latest
$ErrorActionPreference = 'Stop'
$module = Import-Module $Pester -MinimumVersion 5.7.1 -PassThru
# Say which Pester runs the suite: a machine may hold several.
Write-Output "Pester $($module.Version) from $($module.ModuleBase)"
$config = New-PesterConfiguration
$config.Run.Path = $PSScriptRoot
$config.Run.PassThru = $true
$config.Output.Verbosity = 'Normal'
$result = Invoke-Pester -Configuration $config
Write-Output "$($result.PassedCount) passed, $($result.FailedCount) failed, $($result.SkippedCount) skipped"
if ($result.Result -ne 'Passed' -or $result.PassedCount -eq 0 -or $result.FailedContainersCount -gt 0) { exit 1 }
exit 0
