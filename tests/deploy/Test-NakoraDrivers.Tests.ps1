Describe 'Test-NakoraDrivers.ps1' {
    BeforeAll {
        . (Join-Path $PSScriptRoot 'StandIns.ps1')
        function Get-LastBootTime {}
        function Get-FolderAccessProblem([string]$Path) {}
        function Stop-ToolTree([int]$Id) {}
        $Summary = @{
            0 = 'Nakora driver stack: none left'
            1 = 'Nakora driver stack: 2 packages left'
            2 = 'Nakora driver stack: could not check (device listing failed)'
        }

        function Invoke-Detection([string]$For, [double]$TimeoutMinutes = 1) {
            $output = @(& (Join-Path $folder 'Test-NakoraDrivers.ps1') -Folder $folder -For $For -TimeoutMinutes $TimeoutMinutes)
            return @{ Code = $LASTEXITCODE; Output = $output }
        }
    }

    BeforeEach {
        $dir = New-TestRun
        $folder = Join-Path $dir 'NakoraCleanup'
        New-Kit $folder
        Mock Get-LastBootTime { [DateTime]::UtcNow.AddHours(-1) }
        Mock Get-FolderAccessProblem { $null }
        # Windows kills the tree with taskkill; here the stand-in alone will do.
        if ([System.Environment]::OSVersion.Platform -eq [System.PlatformID]::Unix) { Mock Stop-ToolTree { Stop-Process -Id $Id -Force } }
    }

    # For each system, by the check's code 0, 1 and 2: the exit code and the lines written.
    It 'for <For>: exit <Codes>, <Lines> line(s)' -ForEach @(
        @{ For = 'Remediations'; Codes = 0, 1, 1; Lines = 1, 1, 1 }
        @{ For = 'Win32App'; Codes = 0, 1, 1; Lines = 1, 1, 1 }
        @{ For = 'ConfigMgrApplication'; Codes = 0, 0, 0; Lines = 1, 0, 0 }
        @{ For = 'ConfigMgrSetting'; Codes = 0, 0, 0; Lines = 1, 1, 1 }
    ) {
        foreach ($check in 0, 1, 2) {
            Set-Plan 'CheckNakoraDrivers' "$check 0 $($Summary[$check])"
            $result = Invoke-Detection $For
            $result.Code | Should -Be $Codes[$check] -Because "the check said $check"
            $result.Output.Count | Should -Be $Lines[$check] -Because "the check said $check"
            if ($Lines[$check]) { $result.Output[0] | Should -Be $Summary[$check] }
        }
        # Run in the staged folder, where it finds devcon.
        Get-Content (Join-Path $env:NK_PLAN_DIR 'CheckNakoraDrivers.calls') | Select-Object -Unique | Should -Be ((Get-Item $folder).FullName)
    }

    It 'not <Missing>, for <For>: never clean' -ForEach @(
        foreach ($missing in 'NakoraCleanup', 'CheckNakoraDrivers.exe', 'devcon.exe', 'admin-only', 'in time') {
            foreach ($for in 'Remediations', 'Win32App', 'ConfigMgrApplication', 'ConfigMgrSetting') {
                @{ Missing = $missing; For = $for }
            }
        }
    ) {
        Set-Plan 'CheckNakoraDrivers' '0 0 Nakora driver stack: none left'
        $calls = 0
        if ($Missing -eq 'in time') {
            # A check that hangs, as on a devcon that never returns, is stopped.
            Set-Plan 'CheckNakoraDrivers' '0 60 Nakora driver stack: none left'
            $result = Invoke-Detection $For 0.01
            $Missing = 'ran past 0.01 minutes'
            $calls = 1
        } elseif ($Missing -eq 'admin-only') {
            # A folder that others could write to, made before the kit was staged.
            Mock Get-FolderAccessProblem { 'its owner is S-1-5-21-1' }
            $result = Invoke-Detection $For
        } elseif ($Missing -eq 'NakoraCleanup') {
            Copy-Item (Join-Path $folder 'Test-NakoraDrivers.ps1') $dir
            Remove-Item $folder -Recurse
            $output = @(& (Join-Path $dir 'Test-NakoraDrivers.ps1') -Folder $folder -For $For)
            $result = @{ Code = $LASTEXITCODE; Output = $output }
        } else {
            Remove-Item (Join-Path $folder $Missing)
            $result = Invoke-Detection $For
        }
        if ($For -eq 'ConfigMgrApplication') {
            $result.Code | Should -Be 0
            $result.Output.Count | Should -Be 0
        } else {
            $result.Code | Should -Be ([int]($For -ne 'ConfigMgrSetting'))
            $result.Output.Count | Should -Be 1
            $result.Output[0] | Should -BeLike "Nakora driver stack: could not check (*$Missing*"
        }
        Get-CallCount 'CheckNakoraDrivers' | Should -Be $calls
    }

    It 'Win32App, check <Check> after an install that ended <Record> <When> the restart: exit <Code>' -ForEach @(
        @{ Check = 1; Record = 3010; When = 'after'; Code = 0 }
        @{ Check = 1; Record = 3010; When = 'before'; Code = 1 }
        @{ Check = 1; Record = 1; When = 'after'; Code = 1 }
        @{ Check = 2; Record = 3010; When = 'after'; Code = 1 }
    ) {
        Set-Plan 'CheckNakoraDrivers' "$Check 0 $($Summary[$Check])"
        $hours = 2
        if ($When -eq 'after') { $hours = 0 }
        $null = New-Item -ItemType Directory -Path (Join-Path $folder 'Logs') -Force
        Set-Content (Join-Path $folder 'Logs/last-result.txt') "exit=$Record", "time=$([DateTime]::UtcNow.AddHours(-$hours).ToString('o'))"
        $result = Invoke-Detection 'Win32App'
        $result.Code | Should -Be $Code
        $result.Output.Count | Should -Be 1
        if ($Code -eq 0) { $result.Output[0] | Should -BeLike '*restart is pending*' }
    }

    It 'the package ships a copy for <For> that behaves as -For <For> when run without arguments' -ForEach @(
        # Some left, after an install that asked for a restart: Remediations would say 1.
        @{ For = 'Win32App'; Code = 0; Lines = 1 }
        @{ For = 'ConfigMgrApplication'; Code = 0; Lines = 0 }
        @{ For = 'ConfigMgrSetting'; Code = 0; Lines = 1 }
    ) {
        # Windows' python3 may be the store's stand-in; Debian has no python.
        $name = 'python3'
        if ([System.IO.Path]::DirectorySeparatorChar -eq '\') { $name = 'python' }
        $python = (Get-Command $name -CommandType Application | Select-Object -First 1).Source
        & $python (Join-Path $PSScriptRoot '../../scripts/release_package.py') detection-copies $dir
        $LASTEXITCODE | Should -Be 0
        Set-Plan 'CheckNakoraDrivers' "1 0 $($Summary[1])"
        $null = New-Item -ItemType Directory -Path (Join-Path $folder 'Logs')
        Set-Content (Join-Path $folder 'Logs/last-result.txt') 'exit=3010', "time=$([DateTime]::UtcNow.ToString('o'))"
        $output = @(& (Join-Path $dir "Detect-$For.ps1") -Folder $folder)
        $LASTEXITCODE | Should -Be $Code
        $output.Count | Should -Be $Lines
    }
}
