BeforeDiscovery { . (Join-Path $PSScriptRoot 'StandIns.ps1') }

Describe 'Install-NakoraCleanup.ps1' {
    BeforeAll {
        . (Join-Path $PSScriptRoot 'StandIns.ps1')
        # The Windows steps the kit runs itself.
        $Real = @()

        function Invoke-Install([string[]]$Check, [string[]]$Cleanup = @('0 0 Done.'), [hashtable]$With = @{}) {
            Set-Plan 'CheckNakoraDrivers' $Check
            Set-Plan 'CleanupNakoraDrivers' $Cleanup
            $arguments = @{ Folder = $folder; TimeoutMinutes = 1 }
            foreach ($key in $With.Keys) { $arguments[$key] = $With[$key] }
            $output = & (Join-Path $kit 'Install-NakoraCleanup.ps1') @arguments
            return @{ Code = $LASTEXITCODE; Last = (Get-LastLine $output) }
        }
    }

    BeforeEach {
        $dir = New-TestRun
        $kit = Join-Path $dir 'kit'
        $folder = Join-Path $dir 'NakoraCleanup'
        New-Kit $kit
        Set-WindowsSteps -Except $Real
        $env:ProgramData = Join-Path $dir 'ProgramData'
    }

    Context 'maps the check to its exit code' {
        # Previous: the last run's exit code and how many hours before the boot it ended (-1: after it).
        It 'check <Check> then <After>, cleanup exit <CleanupCode>, last run <Previous>: exit <Code>' -ForEach @(
            @{ Check = '0 0 Nakora driver stack: none left'; After = $null; CleanupCode = 0; Previous = $null; Code = 0; Cleanups = 0; Last = 'Nakora driver stack: none left' }
            @{ Check = '2 0 Nakora driver stack: could not check (device listing failed)'; After = $null; CleanupCode = 0; Previous = $null; Code = 1; Cleanups = 0; Last = 'Nakora driver stack: could not check (device listing failed)' }
            @{ Check = '99 0 '; After = $null; CleanupCode = 0; Previous = $null; Code = 1; Cleanups = 0; Last = '*could not check*exit code 99*' }
            @{ Check = '0 0 '; After = $null; CleanupCode = 0; Previous = $null; Code = 1; Cleanups = 0; Last = '*could not check (the check printed no summary)' }
            @{ Check = '1 0 Nakora driver stack: 2 packages left'; After = '0 0 Nakora driver stack: none left'; CleanupCode = 0; Previous = $null; Code = 0; Cleanups = 1; Last = 'Nakora driver stack: none left' }
            @{ Check = '1 0 Nakora driver stack: 2 packages left'; After = '1 0 Nakora driver stack: 1 package left'; CleanupCode = 0; Previous = $null; Code = 3010; Cleanups = 1; Last = 'Nakora driver stack: 1 package left (restart, then run again)' }
            # 3010 once per restart: the restart it asked for has come and gone.
            @{ Check = '1 0 Nakora driver stack: 2 packages left'; After = '1 0 Nakora driver stack: 1 package left'; CleanupCode = 0; Previous = '3010 1'; Code = 1; Cleanups = 1; Last = 'Nakora driver stack: 1 package left (still left after a restart)' }
            @{ Check = '1 0 Nakora driver stack: 2 packages left'; After = '1 0 Nakora driver stack: 1 package left'; CleanupCode = 0; Previous = '3010 -1'; Code = 3010; Cleanups = 1; Last = '*(restart, then run again)' }
            @{ Check = '1 0 Nakora driver stack: 2 packages left'; After = '1 0 Nakora driver stack: 1 package left'; CleanupCode = 0; Previous = '1 1'; Code = 3010; Cleanups = 1; Last = '*(restart, then run again)' }
            @{ Check = '1 0 Nakora driver stack: 2 packages left'; After = '2 0 Nakora driver stack: could not check (driver listing failed)'; CleanupCode = 0; Previous = $null; Code = 1; Cleanups = 1; Last = '*could not check (driver listing failed)' }
            @{ Check = '1 0 Nakora driver stack: 2 packages left'; After = $null; CleanupCode = 5; Previous = $null; Code = 1; Cleanups = 1; Last = '*did not finish (exit code 5)*' }
            # A record of leftovers without the time of its 3010 is none to go by.
            @{ Check = '2 0 Nakora driver stack: could not check (device listing failed)'; After = $null; CleanupCode = 0; Previous = '3010 1 left=x'; Code = 1; Cleanups = 0; Last = '*could not check (device listing failed)' }
        ) {
            if ($Previous) {
                $exit, $hours, $more = $Previous -split ' '
                $null = New-Item -ItemType Directory -Path (Join-Path $folder 'Logs') -Force
                # The boot was an hour ago.
                Set-Content (Join-Path $folder 'Logs/last-result.txt') (@("exit=$exit", "time=$([DateTime]::UtcNow.AddHours(-1 - $hours).ToString('o'))") + @($more | Where-Object { $_ }))
            }
            $result = Invoke-Install -Check (@($Check, $After) | Where-Object { $_ }) -Cleanup "$CleanupCode 0 Done."
            $result.Code | Should -Be $Code
            $result.Last | Should -BeLike $Last
            Get-CallCount 'CleanupNakoraDrivers' | Should -Be $Cleanups
            # Both run in the admin-only folder, where they find devcon first in the search path, and the
            # current directory is not searched.
            Get-Content (Join-Path $env:NK_PLAN_DIR 'CheckNakoraDrivers.calls') | Select-Object -Unique | Should -Be ((Get-Item $folder).FullName)
            Get-Content (Join-Path $env:NK_PLAN_DIR 'CheckNakoraDrivers.env') | Should -Be "1|$((Get-Item $folder).FullName)"
        }
    }

    Context 'refuses what it cannot trust' {
        It '<Case>: exit 1, nothing run' -ForEach @(
            @{ Case = 'devcon missing'; Last = '*devcon.exe is missing*WDK*'
                Arrange = { Remove-Item (Join-Path $kit 'devcon.exe') } }
            @{ Case = 'hash mismatch'; Last = '*CleanupNakoraDrivers.exe does not match SHA256SUMS'
                Arrange = { Add-Content (Join-Path $kit 'CleanupNakoraDrivers.exe') '# changed' } }
            @{ Case = 'rights not reset'; Last = '*is not admin-only: its owner is S-1-5-21-1'
                Arrange = { Mock Get-FolderAccessProblem { 'its owner is S-1-5-21-1' } } }
            @{ Case = 'a folder under a folder users may write to'; Last = '*is not in an admin-only folder: * lets S-1-5-11 write to it'
                Arrange = { Mock Get-ParentAccessProblem { "$(Split-Path $Path) lets S-1-5-11 write to it" } } }
            @{ Case = 'devcon.exe unsigned'; Last = 'devcon.exe carries no valid signature of Microsoft Corporation*'
                Arrange = { Mock Get-SignerSubject { $null } } }
            @{ Case = 'devcon.exe signed by another maker'; Last = 'devcon.exe carries no valid signature of Microsoft Corporation*'
                Arrange = { Mock Get-SignerSubject { 'CN=Microsoft Corporation, O=Example Corp' } } }
            @{ Case = 'devcon.exe not the hash the administrator passed'; Last = 'devcon.exe does not match -DevconSha256'
                Arrange = { $with['DevconSha256'] = '0' * 64 } }
        ) {
            $with = @{}
            . $Arrange
            $result = Invoke-Install -Check '0 0 Nakora driver stack: none left' -With $with
            $result.Code | Should -Be 1
            $result.Last | Should -BeLike "Nakora clean-up refused: $Last"
            Get-CallCount 'CheckNakoraDrivers' | Should -Be 0
            # The event log holds it, whether or not the log folder exists yet.
            Should -Invoke Write-KitEvent -Times 1 -Exactly -ParameterFilter { $Id -eq 1 -and $Type -eq 'Error' -and $Text -like "*$($result.Last)*" }
        }

        It 'another run holds the lock: exit 1618, nothing run' {
            $null = New-Item -ItemType Directory -Path $folder
            $held = [System.IO.File]::Open((Join-Path $folder 'run.lock'), 'OpenOrCreate', 'ReadWrite', 'None')
            try { $result = Invoke-Install -Check '1 0 Nakora driver stack: 2 packages left' -With @{ TimeoutMinutes = 0.05 } } finally { $held.Dispose() }
            $result.Code | Should -Be 1618
            $result.Last | Should -Be 'Nakora driver stack: could not check (another run is in progress)'
            Get-CallCount 'CheckNakoraDrivers' | Should -Be 0
        }
    }

    Context 'prepares the folder' {
        # Made: created with its final rights (New-AdminFolder), kept, or moved aside and made afresh
        # (squatted: someone else made it; aside: not as the kit makes it). Strange: an item moved aside.
        It '<Case>: <Made>, the kit copied' -ForEach @(
            @{ Case = 'a new folder'; Made = 'created'; Arrange = {} }
            @{ Case = 'a folder left by an earlier run'; Made = 'kept'; Arrange = {
                    $null = New-Item -ItemType Directory -Path (Join-Path $folder 'Logs') -Force
                    Set-Content (Join-Path $folder 'devicelist.txt') 'left by a stopped run'
                    Set-Content (Join-Path $folder 'CleanupNakoraDrivers.exe') 'old build'
                } }
            @{ Case = 'a folder not as the kit makes it'; Made = 'aside'; Arrange = {
                    $null = New-Item -ItemType Directory -Path $folder
                    Set-Content (Join-Path $folder 'devicelist.txt') 'old'
                    Mock Get-FolderAccessProblem { if (Test-Path (Join-Path $Path 'devicelist.txt')) { 'it inherits rights' } }
                } }
            @{ Case = 'a folder a user made'; Made = 'squatted'; Arrange = {
                    $null = New-Item -ItemType Directory -Path $folder
                    Set-Content (Join-Path $folder 'cmd.exe') 'planted'
                    Mock Get-OwnerSid { if ((Split-Path $Path -Leaf) -eq 'NakoraCleanup') { 'S-1-5-21-1' } else { 'S-1-5-32-544' } }
                } }
            @{ Case = 'a file a user made'; Made = 'squatted'; Arrange = { Set-Content $folder 'squatted' } }
            @{ Case = 'a link a user made'; Made = 'squatted'; Arrange = {
                    $null = New-Item -ItemType Directory -Path (Join-Path $dir 'elsewhere')
                    $null = New-Item -ItemType SymbolicLink -Path $folder -Target (Join-Path $dir 'elsewhere')
                } }
            # Explorer's desktop.ini would otherwise make every later run refuse.
            @{ Case = 'an item the kit did not put there'; Made = 'kept'; Strange = 'desktop.ini'; Arrange = {
                    $null = New-Item -ItemType Directory -Path $folder
                    Set-Content (Join-Path $folder 'desktop.ini') '[.ShellClassInfo]'
                } }
            @{ Case = 'a link as Logs'; Made = 'kept'; Strange = 'Logs'; Arrange = {
                    $null = New-Item -ItemType Directory -Path $folder
                    $null = New-Item -ItemType SymbolicLink -Path (Join-Path $folder 'Logs') -Target $dir
                } }
            @{ Case = 'a link inside Logs'; Made = 'kept'; Strange = 'Logs_20200101-000000'; Arrange = {
                    $null = New-Item -ItemType Directory -Path (Join-Path $folder 'Logs') -Force
                    $null = New-Item -ItemType SymbolicLink -Path (Join-Path $folder 'Logs/20200101-000000') -Target $dir
                } }
            # An owner may always give itself the right to write again, even once the rights are reset.
            @{ Case = 'a file a user owns'; Made = 'kept'; Strange = 'Logs_last-result.txt'; Arrange = {
                    $null = New-Item -ItemType Directory -Path (Join-Path $folder 'Logs') -Force
                    Set-Content (Join-Path $folder 'Logs/last-result.txt') 'exit=0'
                    Mock Get-OwnerSid { if ($Path -like '*last-result.txt') { 'S-1-5-21-1' } else { 'S-1-5-32-544' } }
                } }
            @{ Case = 'a file users may change'; Made = 'kept'; Strange = 'Logs_detection.txt'; Arrange = {
                    $null = New-Item -ItemType Directory -Path (Join-Path $folder 'Logs') -Force
                    Set-Content (Join-Path $folder 'Logs/detection.txt') 'Nakora driver stack: none left'
                    Mock Get-WriterSid { if ($Path -like '*detection.txt') { 'S-1-5-32-545' } }
                } }
        ) {
            $Strange = if ($_.ContainsKey('Strange')) { $_.Strange } else { $null }
            . $Arrange
            $result = Invoke-Install -Check '0 0 Nakora driver stack: none left' -With @{ StageOnly = $true }
            $result.Code | Should -Be 0
            $full = [System.IO.Path]::GetFullPath($folder)
            Should -Invoke New-AdminFolder -Times ([int]($Made -ne 'kept')) -Exactly -ParameterFilter { $Path -eq $full }
            Should -Invoke Grant-Takeover -Times ([int]($Made -in 'squatted', 'aside' -and $Case -notlike 'a link*')) -Exactly -ParameterFilter { $Path -eq $full }
            @(Get-Item "$folder.squatted-*").Count | Should -Be ([int]($Made -eq 'squatted'))
            @(Get-Item "$folder.aside-*").Count | Should -Be ([int]($Made -eq 'aside' -or $Strange))
            if ($Strange) { Test-Path (Join-Path (Get-Item "$folder.aside-*").FullName $Strange) | Should -BeTrue }
            foreach ($name in 'CleanupNakoraDrivers.exe', 'CheckNakoraDrivers.exe', 'devcon.exe', 'SHA256SUMS', 'Test-NakoraDrivers.ps1') {
                (Get-FileHash (Join-Path $folder $name)).Hash | Should -Be (Get-FileHash (Join-Path $kit $name)).Hash
            }
            Get-Content (Join-Path $folder 'devcon.sha256') | Should -Be (Get-FileHash (Join-Path $kit 'devcon.exe')).Hash
            Get-CallCount 'CheckNakoraDrivers' | Should -Be 0
        }

        # Moved aside first, then deleted without following a link; an empty folder keeps its name.
        It "moves the earlier kit's folder aside and deletes it, reporting what a user made there<Link>" -ForEach @(
            @{ Link = '' }
            @{ Link = ', a link' }
        ) {
            $legacy = Join-Path $env:ProgramData 'NakoraCleanup'
            $null = New-Item -ItemType Directory -Path (Join-Path $legacy 'Logs') -Force
            Set-Content (Join-Path $legacy 'Logs/last-result.txt') 'exit=0'
            Set-Content (Join-Path $legacy 'cmd.exe') 'planted'
            if ($Link) { $null = New-Item -ItemType SymbolicLink -Path (Join-Path $legacy 'Logs/elsewhere') -Target $kit }
            Mock Get-OwnerSid { if ($Path -like '*cmd.exe') { 'S-1-5-21-1' } else { 'S-1-5-32-544' } }
            $result = Invoke-Install -Check '0 0 Nakora driver stack: none left' -With @{ StageOnly = $true }
            $result.Code | Should -Be 0
            @(Get-ChildItem $env:ProgramData -Force -Recurse).FullName | Should -Be $legacy
            Test-Path (Join-Path $kit 'devcon.exe') | Should -BeTrue  # what a link pointed to stays
            $reported = if ($Link) { '*elsewhere (a link)' } else { '*cmd.exe (owned by S-1-5-21-1)' }
            Should -Invoke Write-KitEvent -Times 1 -Exactly -ParameterFilter { $Type -eq 'Error' -and $Text -like "*tampering*$reported*" }
        }

        It 'run from the folder itself, it still checks <Changed>' -ForEach @(
            @{ Changed = 'CheckNakoraDrivers.exe'; Last = 'CheckNakoraDrivers.exe does not match SHA256SUMS' }
            @{ Changed = 'devcon.exe'; Last = 'devcon.exe does not match devcon.sha256' }
        ) {
            $null = Invoke-Install -Check '0 0 none' -With @{ StageOnly = $true }
            Add-Content (Join-Path $folder $Changed) '# changed'
            Set-Plan 'CheckNakoraDrivers' '0 0 none'
            $output = & (Join-Path $folder 'Install-NakoraCleanup.ps1') -Folder $folder
            $LASTEXITCODE | Should -Be 1
            Get-LastLine $output | Should -Be "Nakora clean-up refused: $Last"
            Get-CallCount 'CheckNakoraDrivers' | Should -Be 0
        }

        # Its error lines come through as text, not as an error of this run's own, and an empty value and
        # a trailing backslash as given, which Windows PowerShell 5.1 would drop and let escape its quote.
        It 'in 32-bit PowerShell on 64-bit Windows, runs itself again in the 64-bit one with the same arguments, its output and its exit <_>' -ForEach 3010, 1618, 1 {
            Mock Test-Wow64 { $true }
            Mock Write-Failure {}
            New-StandIn (Join-Path (New-Item -ItemType Directory -Path (Join-Path $dir 'Windows/Sysnative/WindowsPowerShell/v1.0')) 'powershell.exe')
            foreach ($name in 'powershell.quiet', 'powershell.stderr') { Set-Content (Join-Path $env:NK_PLAN_DIR $name) '' }
            Set-Plan 'powershell' "$_ 0 Nakora clean-up failed: Access is denied"
            $root, $env:SystemRoot = $env:SystemRoot, (Join-Path $dir 'Windows')
            try { $result = Invoke-Install -Check '0 0 none' -With @{ Folder = "$dir/Nakora Cleanup\"; DevconSha256 = ''; KeepRuns = 3; StageOnly = $true } } finally { $env:SystemRoot = $root }
            $result.Code | Should -Be (@($_, ($_ % 256))[[int]$OnUnix])  # Linux keeps an exit code's low byte only
            $result.Last | Should -Be 'powershell stand-in'
            Should -Invoke Write-Failure -Times 1 -Exactly -ParameterFilter { $Line -eq 'Nakora clean-up failed: Access is denied' }
            # In the order they were bound, which splatting a hashtable leaves open.
            $pairs = ((@(Get-Content (Join-Path $env:NK_PLAN_DIR 'powershell.args') | Select-Object -Skip 6) -join '|') -replace '\|(?!-)', '=') -split '\|'
            ($pairs | Sort-Object) -join ' ' | Should -Be "-Folder=$dir/Nakora Cleanup\ -KeepRuns=3 -StageOnly -TimeoutMinutes=1"
        }
    }

    Context 'with its own Windows steps' {
        BeforeAll { $Real = $RightsSteps }

        It 'moves aside a folder that Users could write to and makes it afresh, which its own verification accepts' -Skip:$OnUnix {
            $null = New-Item -ItemType Directory -Path $folder
            & icacls.exe $folder /grant '*S-1-5-32-545:(OI)(CI)M' | Out-Null
            # The stand-in devcon carries no signature: the administrator's hash stands for it.
            $output = & (Join-Path $kit 'Install-NakoraCleanup.ps1') -Folder $folder -StageOnly `
                -DevconSha256 (Get-FileHash (Join-Path $kit 'devcon.exe')).Hash
            $LASTEXITCODE | Should -Be 0
            Get-LastLine $output | Should -BeLike 'Nakora clean-up kit staged in*'
            @(Get-Item "$folder.aside-*", "$folder.squatted-*").Count | Should -Be 1
        }

        # .NET 5 and later lack CreateDirectory(String, DirectorySecurity); the call they have refuses ACLs here.
        It 'makes a new folder admin-only in PowerShell 7' -Skip:(-not $OnUnix) {
            Mock Get-AdminFolderSecurity { $null }
            (Invoke-Install -Check '0 0 none' -With @{ StageOnly = $true; DevconSha256 = (Get-FileHash (Join-Path $kit 'devcon.exe')).Hash }).Last |
                Should -BeLike 'Nakora clean-up failed: Exception calling "Create" with "2" argument(s)*'
        }

    }

    Context 'with its own takeover' {
        BeforeAll { $Real = 'Grant-Takeover' }

        It 'icacls, taking over a folder a user made, complains on standard error and exits <_>: only its exit code counts' -ForEach 0, 5 {
            Mock Get-OwnerSid { if ((Split-Path $Path -Leaf) -eq 'NakoraCleanup') { 'S-1-5-21-1' } else { 'S-1-5-32-544' } }
            $null = New-Item -ItemType Directory -Path (Join-Path $dir 'bin'), $folder
            foreach ($name in 'icacls', 'takeown') { New-StandIn (Join-Path $dir "bin/$name.exe") }
            foreach ($name in 'icacls.quiet', 'icacls.stderr', 'takeown.quiet') { Set-Content (Join-Path $env:NK_PLAN_DIR $name) '' }
            Set-Plan 'icacls' "$_ 0 $folder`: Access is denied."
            Set-Plan 'takeown' '0 0 taken'
            $path, $env:PATH = $env:PATH, ((Join-Path $dir 'bin') + [System.IO.Path]::PathSeparator + $env:PATH)
            try { $result = Invoke-Install -Check '0 0 none' -With @{ StageOnly = $true; DevconSha256 = (Get-FileHash (Join-Path $kit 'devcon.exe')).Hash } } finally { $env:PATH = $path }
            "$($result.Code) $($result.Last)" | Should -BeLike (@('0 Nakora clean-up kit staged in *', "1 Nakora clean-up failed: icacls.exe $folder /reset /L /Q failed with exit code 5: *")[[int]($_ -ne 0)])
        }
    }

    Context 'keeps a log and a time limit' {
        It 'keeps the reports and listings of a run, and only the newest runs' {
            foreach ($old in '20200101-000000', '20200102-000000', '20200103-000000') {
                $null = New-Item -ItemType Directory -Path (Join-Path $folder "Logs/$old") -Force
            }
            $result = Invoke-Install -Check '1 0 Nakora driver stack: 2 packages left', '1 0 Nakora driver stack: 1 package left' -With @{ KeepRuns = 2 }
            $result.Code | Should -Be 3010
            $runs = @(Get-ChildItem (Join-Path $folder 'Logs') -Directory | Sort-Object Name)
            $runs.Count | Should -Be 2
            $runs[0].Name | Should -Be '20200103-000000'
            $runs[1].Name | Should -Match '^\d{8}-\d{6}-\d{7}$'
            $names = (Get-ChildItem $runs[1].FullName).Name
            foreach ($name in 'check-before.txt', 'cleanup.txt', 'check-after.txt', 'devicelist.txt', 'audiodevicelist.txt',
                'driverlist.txt', 'before-check-devicelist.txt', 'after-check-driverlist.txt') {
                $names | Should -Contain $name
            }
            @(Get-ChildItem $folder -Filter '*list.txt').Count | Should -Be 0
            Get-Content (Join-Path $folder 'Logs/last-result.txt') | Should -Contain 'exit=3010'
            # As Configuration Manager's logs are, for CMTrace and OneTrace.
            $lines = @(Get-Content (Join-Path $folder 'Logs/NakoraCleanup.log'))
            $lines | Should -Match '^<!\[LOG\[.+\]LOG\]!><time="\d\d:\d\d:\d\d\.\d{3}\+000" date="\d\d-\d\d-\d{4}" component="Install-NakoraCleanup" context="" type="[12]" thread="\d+" file="">$'
            $lines[-1] | Should -BeLike '*1 package left (restart, then run again) (exit code 3010)*type="2"*'
        }

        It '3010 once for the same leftovers: after a restart that removed none, 1 until they change' {
            $left = '1 0 Nakora driver stack: 1 package left'
            $boot = [DateTime]::UtcNow.AddHours(-1)
            Mock Get-LastBootTime { $boot }
            foreach ($step in @(
                    @{ After = $left; Code = 3010 }
                    @{ After = $left; Code = 1; Restart = $true }
                    @{ After = $left; Code = 1 }
                    @{ After = '1 0 Nakora driver stack: 2 packages left'; Code = 3010 }
                )) {
                if ($step.ContainsKey('Restart')) { $boot = [DateTime]::UtcNow }
                Remove-Item (Join-Path $env:NK_PLAN_DIR '*.calls')
                (Invoke-Install -Check '1 0 Nakora driver stack: 2 packages left', $step.After).Code | Should -Be $step.Code
                # A Win32 app then reads "installed" only while the restart it asked for is pending.
                $output = & (Join-Path $folder 'Test-NakoraDrivers.ps1') -Folder $folder -For Win32App
                $LASTEXITCODE | Should -Be ([int]($step.Code -ne 3010))
            }
        }

        It "never files an earlier run's listings as this run's" {
            $null = New-Item -ItemType Directory -Path $folder
            foreach ($name in 'check-devicelist.txt', 'devicelist.txt') { Set-Content (Join-Path $folder $name) 'an earlier run' }
            foreach ($name in 'CheckNakoraDrivers', 'CleanupNakoraDrivers') { Set-Content (Join-Path $env:NK_PLAN_DIR "$name.quiet") '' }
            $result = Invoke-Install -Check '1 0 Nakora driver stack: 2 packages left', '1 0 Nakora driver stack: 1 package left'
            $result.Code | Should -Be 3010
            @(Get-ChildItem (Join-Path $folder 'Logs') -Recurse -Filter '*list.txt').Count | Should -Be 0
        }

        It 'stops a cleanup that runs past the limit and keeps its partial report' {
            $started = Get-Date
            $result = Invoke-Install -Check '1 0 Nakora driver stack: 2 packages left' -Cleanup '0 60 Removing devices...' -With @{ TimeoutMinutes = 0.05 }
            ((Get-Date) - $started).TotalSeconds | Should -BeLessThan 30
            $result.Code | Should -Be 1
            $result.Last | Should -BeLike 'Nakora clean-up stopped: it ran past 0.05 minutes*'
            $report = Get-ChildItem (Join-Path $folder 'Logs') -Recurse -Filter 'cleanup.txt'
            Get-Content $report.FullName | Should -Contain 'Removing devices...'
            Get-CallCount 'CheckNakoraDrivers' | Should -Be 1
            Get-Process -Id (Get-Content (Join-Path $env:NK_PLAN_DIR 'CleanupNakoraDrivers.pid')) -ErrorAction SilentlyContinue | Should -BeNullOrEmpty
        }
    }
}
