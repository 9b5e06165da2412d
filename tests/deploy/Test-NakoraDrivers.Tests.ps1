Describe 'Test-NakoraDrivers.ps1' {
    BeforeAll {
        . (Join-Path $PSScriptRoot 'StandIns.ps1')
        $Summary = @{
            0 = 'Nakora driver stack: none left'
            1 = 'Nakora driver stack: 2 packages left'
            2 = 'Nakora driver stack: could not check (device listing failed)'
            # A code the check never gives: its own last line must not pass for the verdict.
            99 = 'Nakora driver stack: none left'
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
        Set-WindowsSteps
    }

    # For each system, by the check's code 0, 1, 2 and 99: the exit code and the lines written.
    It 'for <For>: exit <Codes>, <Lines> line(s)' -ForEach @(
        @{ For = 'Remediations'; Codes = 0, 1, 1, 1; Lines = 1, 1, 1, 1 }
        @{ For = 'Win32App'; Codes = 0, 1, 1, 1; Lines = 1, 1, 1, 1 }
        @{ For = 'ConfigMgrApplication'; Codes = 0, 0, 0, 0; Lines = 1, 0, 0, 0 }
        @{ For = 'ConfigMgrSetting'; Codes = 0, 0, 0, 0; Lines = 1, 1, 1, 1 }
    ) {
        foreach ($index in 0..3) {
            $check = @(0, 1, 2, 99)[$index]
            Set-Plan 'CheckNakoraDrivers' "$check 0 $($Summary[$check])"
            $result = Invoke-Detection $For
            $result.Code | Should -Be $Codes[$index] -Because "the check said $check"
            $result.Output.Count | Should -Be $Lines[$index] -Because "the check said $check"
            $expected = $Summary[$check]
            if ($check -eq 99) { $expected = 'Nakora driver stack: could not check (CheckNakoraDrivers.exe exit code 99)' }
            if ($Lines[$index]) { $result.Output[0] | Should -Be $expected }
        }
        # Run in the staged folder, where it finds devcon first in the search path, and the current
        # directory is not searched.
        Get-Content (Join-Path $env:NK_PLAN_DIR 'CheckNakoraDrivers.calls') | Select-Object -Unique | Should -Be ((Get-Item $folder).FullName)
        Get-Content (Join-Path $env:NK_PLAN_DIR 'CheckNakoraDrivers.env') | Should -Be "1|$((Get-Item $folder).FullName)"
    }

    It 'not <Missing>, for <For>: never clean' -ForEach @(
        $cases = @(
            @{ Missing = 'NakoraCleanup'; Line = 'NakoraCleanup is missing'; Arrange = {
                    Copy-Item (Join-Path $folder 'Test-NakoraDrivers.ps1') $dir
                    Remove-Item $folder -Recurse
                    $script = Join-Path $dir 'Test-NakoraDrivers.ps1'
                } }
            @{ Missing = 'CheckNakoraDrivers.exe'; Line = 'CheckNakoraDrivers.exe is missing'
                Arrange = { Remove-Item (Join-Path $folder 'CheckNakoraDrivers.exe') } }
            @{ Missing = 'devcon.exe'; Line = 'devcon.exe is missing'; Arrange = { Remove-Item (Join-Path $folder 'devcon.exe') } }
            # A folder that others could write to, made before the kit was staged.
            @{ Missing = 'admin-only'; Line = 'is not admin-only'; Arrange = { Mock Get-FolderAccessProblem { 'its owner is S-1-5-21-1' } } }
            @{ Missing = 'in an admin-only folder'; Line = 'is not in an admin-only folder: C:\ lets S-1-5-11 write to it'
                Arrange = { Mock Get-ParentAccessProblem { 'C:\ lets S-1-5-11 write to it' } } }
            # A check that exits 0 without its summary line has not said the machine is clean.
            @{ Missing = 'with a summary'; Line = 'the check printed no summary'; Arrange = { Set-Plan 'CheckNakoraDrivers' '0 0 '; $calls = 1 } }
            # A check that hangs, as on a devcon that never returns, is stopped.
            @{ Missing = 'in time'; Line = 'the check ran past 0.01 minutes'; Arrange = {
                    Set-Plan 'CheckNakoraDrivers' '0 60 Nakora driver stack: none left'
                    $minutes = 0.01
                    $calls = 1
                } }
            # The owner of a planted devcon.exe could rewrite its rights whenever it liked.
            @{ Missing = 'owned by Administrators'; Line = 'devcon.exe is owned by S-1-5-21-1'; Arrange = {
                    Mock Get-OwnerSid { if ($Path -like '*devcon.exe') { 'S-1-5-21-1' } else { 'S-1-5-32-544' } }
                } }
            @{ Missing = 'the kit alone'; Line = 'holds cmd.exe, which the kit did not put there'
                Arrange = { Set-Content (Join-Path $folder 'cmd.exe') 'planted' } }
            @{ Missing = 'changeable by nobody else'; Line = 'devcon.exe lets S-1-5-32-545 change it'
                Arrange = { Mock Get-WriterSid { if ($Path -like '*devcon.exe') { 'S-1-5-32-545' } } } }
            @{ Missing = 'free of links'; Line = 'detection.txt is a link or junction'; Arrange = {
                    $null = New-Item -ItemType Directory -Path (Join-Path $folder 'Logs')
                    $null = New-Item -ItemType SymbolicLink -Path (Join-Path $folder 'Logs/detection.txt') -Target (Join-Path $dir 'elsewhere.txt')
                } }
            @{ Missing = 'the devcon.exe recorded'; Line = 'devcon.exe does not match devcon.sha256'
                Arrange = { Add-Content (Join-Path $folder 'devcon.exe') 'swapped' } }
            # A relative folder's parents are checked as a whole path's.
            @{ Missing = 'in an admin-only folder, given relative'; Line = 'is not in an admin-only folder: C:\ lets S-1-5-11 write to it'; Arrange = {
                    Mock Get-ParentAccessProblem { if ([System.IO.Path]::IsPathRooted($Path)) { 'C:\ lets S-1-5-11 write to it' } }
                    $at = 'NakoraCleanup'
                } }
        )
        foreach ($case in $cases) {
            foreach ($for in 'Remediations', 'Win32App', 'ConfigMgrApplication', 'ConfigMgrSetting') { $case + @{ For = $for } }
        }
    ) {
        Set-Plan 'CheckNakoraDrivers' '0 0 Nakora driver stack: none left'
        $calls = 0
        $minutes = 1
        $script = Join-Path $folder 'Test-NakoraDrivers.ps1'
        $at = $folder
        . $Arrange
        Push-Location $dir
        try { $output = @(& $script -Folder $at -For $For -TimeoutMinutes $minutes) } finally { Pop-Location }
        $result = @{ Code = $LASTEXITCODE; Output = $output }
        if ($For -eq 'ConfigMgrApplication') {
            $result.Code | Should -Be 0
            $result.Output.Count | Should -Be 0
        } else {
            $result.Code | Should -Be ([int]($For -ne 'ConfigMgrSetting'))
            $result.Output.Count | Should -Be 1
            $result.Output[0] | Should -BeLike "Nakora driver stack: could not check (*$Line*"
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

    It 'two runs at once: one waits for the other, then says another run is in progress' {
        # Separate processes, as on a machine; the Windows-only steps replaced as Mock would.
        # The check takes 20 s, the first run holding the lock all along: the second starts Windows
        # PowerShell, which may take seconds, then waits 3 s, and must still find it taken.
        Set-Plan 'CheckNakoraDrivers' '0 20 Nakora driver stack: none left'
        $shell = Join-Path $PSHOME 'pwsh'
        if ($PSVersionTable.PSEdition -eq 'Desktop') { $shell = Join-Path $PSHOME 'powershell.exe' }
        $start = {
            param([double]$Minutes)
            $prelude = (Get-WindowsStepsPrelude) +
                "& '$(Join-Path $folder 'Test-NakoraDrivers.ps1')' -Folder '$folder' -For ConfigMgrSetting -TimeoutMinutes $Minutes; exit `$LASTEXITCODE"
            Start-Process -FilePath $shell -ArgumentList '-NoProfile', '-NonInteractive', '-Command', $prelude -PassThru `
                -RedirectStandardOutput (Join-Path $dir "out-$Minutes.txt") -RedirectStandardError (Join-Path $dir "err-$Minutes.txt")
        }
        $first = & $start 1
        $deadline = (Get-Date).AddSeconds(30)
        while ((Get-CallCount 'CheckNakoraDrivers') -eq 0 -and (Get-Date) -lt $deadline) { Start-Sleep -Milliseconds 100 }
        $waited = Get-Date
        $second = & $start 0.05
        $second.WaitForExit()
        ((Get-Date) - $waited).TotalSeconds | Should -BeGreaterOrEqual 2.5
        Get-Content (Join-Path $dir 'out-0.05.txt') | Should -Be 'Nakora driver stack: could not check (another run is in progress)'
        $first.WaitForExit()
        Get-Content (Join-Path $dir 'out-1.txt') | Should -Be 'Nakora driver stack: none left'
        Get-CallCount 'CheckNakoraDrivers' | Should -Be 1
    }

    It 'the package ships a copy for <For> that behaves as -For <For> when run without arguments' -ForEach @(
        # Some left, after an install that asked for a restart: Remediations would say 1.
        @{ For = 'Win32App'; Code = 0; Lines = 1 }
        @{ For = 'ConfigMgrApplication'; Code = 0; Lines = 0 }
        @{ For = 'ConfigMgrSetting'; Code = 0; Lines = 1 }
    ) {
        # Windows' python3 may be the store's stand-in; Debian has no python.
        $name = 'python3'
        if (-not $OnUnix) { $name = 'python' }
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
