Describe 'Repair-NakoraDrivers.ps1' {
    BeforeAll {
        . (Join-Path $PSScriptRoot 'StandIns.ps1')
        function Reset-FolderAccess([string]$Path) {}
        function Get-FolderAccessProblem([string]$Path) {}
        function Stop-ToolTree([int]$Id) {}
    }

    BeforeEach {
        $dir = New-TestRun
        $folder = Join-Path $dir 'NakoraCleanup'
        New-Kit $folder
        Copy-Item (Join-Path $folder 'Repair-NakoraDrivers.ps1') $dir
        Mock Reset-FolderAccess {}
        Mock Get-FolderAccessProblem { $null }
        if ($OnUnix) { Mock Stop-ToolTree { Stop-Process -Id $Id -Force } }
    }

    It '<Case>: exit 0, the staged run summed up' -ForEach @(
        @{ Case = 'restart needed'; Check = '1 0 2 packages left', '1 0 1 package left'; Cleanup = '0 0 Done.'; Cleanups = 1; Last = '1 package left*restart*(exit code 3010)' }
        @{ Case = 'could not check'; Check = , '2 0 could not check (device listing failed)'; Cleanup = '0 0 Done.'; Cleanups = 0; Last = '*(exit code 1)' }
        # The time limit is handed on to the staged run.
        @{ Case = 'time limit'; Check = , '1 0 2 packages left'; Cleanup = '0 60 Removing'; Cleanups = 1; Last = '*ran past 0.05 minutes*(exit code 1)' }
        @{ Case = 'folder not admin-only'; Check = , '1 0 2 packages left'; Cleanup = '0 0 Done.'; Cleanups = 0; Last = '*not run:*is not admin-only: its owner is S-1-5-21-1' }
        @{ Case = 'install script missing'; Check = , '1 0 2 packages left'; Cleanup = '0 0 Done.'; Cleanups = 0; Last = '*Install-NakoraCleanup.ps1 is missing*' }
    ) {
        Set-Plan 'CheckNakoraDrivers' $Check
        Set-Plan 'CleanupNakoraDrivers' $Cleanup
        if ($Case -eq 'folder not admin-only') { Mock Get-FolderAccessProblem { 'its owner is S-1-5-21-1' } }
        if ($Case -eq 'install script missing') { Remove-Item (Join-Path $folder 'Install-NakoraCleanup.ps1') }
        $output = & (Join-Path $dir 'Repair-NakoraDrivers.ps1') -Folder $folder -TimeoutMinutes 0.05
        $LASTEXITCODE | Should -Be 0
        Get-LastLine $output | Should -BeLike $Last
        Get-CallCount 'CleanupNakoraDrivers' | Should -Be $Cleanups
    }
}
