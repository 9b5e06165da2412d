# Repair-NakoraDrivers.ps1: the remediation of Intune Remediations, paired with
# Test-NakoraDrivers.ps1 as the detection.
#
# A remediation package holds only scripts, so the kit must be staged in -Folder beforehand
# (Install-NakoraCleanup.ps1, as a Win32 app). This runs the staged Install-NakoraCleanup.ps1
# from there: the same folder check, hash check, time limit and Logs\ as any other run.
# Run it as System in 64-bit PowerShell.
#
# Exit code: always 0. Intune runs the detection again after the remediation and shows that
# output; this script's output is not shown, so the install's summary line and Logs\ are
# where this run is recorded:
# https://learn.microsoft.com/mem/intune/fundamentals/remediations
[CmdletBinding()]
param(
    [string]$Folder = "$env:ProgramData\NakoraCleanup",
    [double]$TimeoutMinutes = 30
)
Set-StrictMode -Version Latest
$ErrorActionPreference = 'Stop'

$Admins = 'S-1-5-32-544'
$System = 'S-1-5-18'
$Users = 'S-1-5-32-545'

# The same verification as Install-NakoraCleanup.ps1's: a script in a folder that others
# can write to is never run as System. Windows-only, replaced in the tests.
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

$install = Join-Path $Folder 'Install-NakoraCleanup.ps1'
if (-not (Test-Path -LiteralPath $install -PathType Leaf)) {
    Write-Output "Nakora clean-up not run: $install is missing (stage the kit first)"
    exit 0
}
try {
    $problem = Get-FolderAccessProblem $Folder
    if ($problem) {
        Write-Output "Nakora clean-up not run: $Folder is not admin-only: $problem"
        exit 0
    }
    $lines = @(& $install -Folder $Folder -TimeoutMinutes $TimeoutMinutes)
    $code = $LASTEXITCODE
    $last = 'Nakora clean-up printed nothing'
    if ($lines.Count) { $last = $lines[-1] }
    Write-Output "$last (exit code $code)"
} catch {
    Write-Output "Nakora clean-up failed: $($_.Exception.Message)"
}
exit 0
