Describe 'Repair-NakoraDrivers.ps1' {
    BeforeAll { . (Join-Path $PSScriptRoot 'StandIns.ps1') }

    BeforeEach {
        $dir = New-TestRun
        $folder = Join-Path $dir 'NakoraCleanup'
        New-Kit $folder
        Copy-Item (Join-Path $folder 'Repair-NakoraDrivers.ps1') $dir
        Set-WindowsSteps
        Mock Write-Failure {}
    }

    # Intune keeps a remediation's errors, not its output: a failed run says so on standard error.
    It '<Case>: exit <Code>, the run summed up' -ForEach @(
        @{ Case = 'restart needed'; Check = '1 0 Nakora driver stack: 2 packages left', '1 0 Nakora driver stack: 1 package left'; Cleanup = '0 0 Done.'; Cleanups = 1; Code = 0; Last = '*1 package left*restart*(exit code 3010)' }
        @{ Case = 'could not check'; Check = , '2 0 Nakora driver stack: could not check (device listing failed)'; Cleanup = '0 0 Done.'; Cleanups = 0; Code = 1; Last = '*(exit code 1)' }
        # The time limit is handed on to the staged run.
        @{ Case = 'time limit'; Check = , '1 0 Nakora driver stack: 2 packages left'; Cleanup = '0 60 Removing'; Cleanups = 1; Code = 1; Last = '*ran past 0.05 minutes*(exit code 1)' }
        @{ Case = 'folder not admin-only'; Check = , '1 0 Nakora driver stack: 2 packages left'; Cleanup = '0 0 Done.'; Cleanups = 0; Code = 1; Last = '*not run:*is not admin-only: its owner is S-1-5-21-1' }
        @{ Case = 'install script missing'; Check = , '1 0 Nakora driver stack: 2 packages left'; Cleanup = '0 0 Done.'; Cleanups = 0; Code = 1; Last = '*Install-NakoraCleanup.ps1 is missing*' }
        @{ Case = 'a file a user owns'; Check = , '1 0 Nakora driver stack: 2 packages left'; Cleanup = '0 0 Done.'; Cleanups = 0; Code = 1; Last = '*not run:*Install-NakoraCleanup.ps1 is owned by S-1-5-21-1' }
        @{ Case = 'a file whose rights cannot be read'; Check = , '1 0 Nakora driver stack: 2 packages left'; Cleanup = '0 0 Done.'; Cleanups = 0; Code = 1; Last = '*not run:*Install-NakoraCleanup.ps1 is owned by someone who denies reading its rights' }
        @{ Case = 'a link inside Logs'; Check = , '1 0 Nakora driver stack: 2 packages left'; Cleanup = '0 0 Done.'; Cleanups = 0; Code = 1; Last = '*not run:*20200101-000000 is a link or junction' }
        @{ Case = 'a file users may change'; Check = , '1 0 Nakora driver stack: 2 packages left'; Cleanup = '0 0 Done.'; Cleanups = 0; Code = 1; Last = '*not run:*devcon.exe lets S-1-5-32-545 change it' }
        @{ Case = 'another run'; Check = , '1 0 Nakora driver stack: 2 packages left'; Cleanup = '0 0 Done.'; Cleanups = 0; Code = 1618; Last = '*not run: another run is in progress' }
        @{ Case = 'a relative folder under one others may write to'; Check = , '1 0 Nakora driver stack: 2 packages left'; Cleanup = '0 0 Done.'; Cleanups = 0; Code = 1; Last = '*not run:*is not in an admin-only folder: C:\ lets S-1-5-11 write to it' }
        @{ Case = 'devcon.exe swapped'; Check = , '1 0 Nakora driver stack: 2 packages left'; Cleanup = '0 0 Done.'; Cleanups = 0; Code = 1; Last = '*not run: devcon.exe does not match devcon.sha256' }
    ) {
        Set-Plan 'CheckNakoraDrivers' $Check
        Set-Plan 'CleanupNakoraDrivers' $Cleanup
        if ($Case -eq 'folder not admin-only') { Mock Get-FolderAccessProblem { 'its owner is S-1-5-21-1' } }
        if ($Case -eq 'install script missing') { Remove-Item (Join-Path $folder 'Install-NakoraCleanup.ps1') }
        if ($Case -eq 'a file a user owns') { Mock Get-OwnerSid { if ($Path -like '*Install-NakoraCleanup.ps1') { 'S-1-5-21-1' } else { 'S-1-5-32-544' } } }
        if ($Case -eq 'a file whose rights cannot be read') { Mock Get-OwnerSid { if ($Path -like '*Install-NakoraCleanup.ps1') { throw 'denied' } else { 'S-1-5-32-544' } } }
        if ($Case -eq 'a link inside Logs') {
            $null = New-Item -ItemType Directory -Path (Join-Path $folder 'Logs')
            $null = New-Item -ItemType SymbolicLink -Path (Join-Path $folder 'Logs/20200101-000000') -Target $dir
        }
        if ($Case -eq 'devcon.exe swapped') { Add-Content (Join-Path $folder 'devcon.exe') 'swapped' }
        if ($Case -eq 'a file users may change') { Mock Get-WriterSid { if ($Path -like '*devcon.exe') { 'S-1-5-32-545' } } }
        $held = $null
        if ($Case -eq 'another run') { $held = [System.IO.File]::Open((Join-Path $folder 'run.lock'), 'OpenOrCreate', 'ReadWrite', 'None') }
        $at = $folder
        if ($Case -like 'a relative*') {
            Mock Get-ParentAccessProblem { if ([System.IO.Path]::IsPathRooted($Path)) { 'C:\ lets S-1-5-11 write to it' } }
            $at = 'NakoraCleanup'
        }
        Push-Location $dir
        try { $output = & (Join-Path $dir 'Repair-NakoraDrivers.ps1') -Folder $at -TimeoutMinutes 0.05 } finally { Pop-Location; if ($held) { $held.Dispose() } }
        $LASTEXITCODE | Should -Be $Code
        if ($Code -eq 0) {
            Get-LastLine $output | Should -BeLike $Last
            Should -Invoke Write-Failure -Times 0 -Exactly
        } else {
            @($output).Count | Should -Be 0
            Should -Invoke Write-Failure -Times 1 -Exactly -ParameterFilter { $Line -like $Last }
        }
        Get-CallCount 'CleanupNakoraDrivers' | Should -Be $Cleanups
    }
}
