Describe 'parse_check.ps1' {
    BeforeAll { . (Join-Path $PSScriptRoot 'parse_check.ps1') }

    It '<Case>' -ForEach @(
        @{ Case = 'plain 5.1 script passes'; Text = 'foreach ($exe in $list) { "${exe}: ok" }'; Problem = $null }
        @{ Case = 'a drive-qualified variable in a string fails'; Text = '"$exe: hash differs"'; Problem = "line 1: *" }
        @{ Case = 'the ternary operator fails'; Text = '$a = $b ? 1 : 2'; Problem = "*cannot parse '`$b ? 1 : 2'" }
        @{ Case = 'a pipeline chain fails'; Text = 'cmd /c exit 1 && exit 0'; Problem = '*cannot parse*&&*' }
        @{ Case = 'null-coalescing fails'; Text = '$a = $b ?? 1'; Problem = '*cannot parse*??*' }
        @{ Case = 'null-coalescing assignment fails'; Text = '$a ??= 1'; Problem = '*cannot parse*??=*' }
        @{ Case = 'null-conditional member access fails'; Text = '${a}?.Name'; Problem = '*cannot parse*?.Name*' }
        @{ Case = 'net user /add without /Y fails'; Text = "& net.exe user nk `$p /add"; Problem = '*net user /add without /Y*' }
        @{ Case = 'net user /add /Y passes'; Text = "net user nk 'Nk!456789012345' /add /Y"; Problem = $null }
    ) {
        $found = @(Get-SyntaxProblem $Text)
        if (-not $Problem) {
            $found | Should -BeNullOrEmpty
        } elseif ($PSVersionTable.PSVersion.Major -ge 7) {
            $found[0] | Should -BeLike $Problem
        } else {
            $found[0] | Should -BeLike 'line *'  # Windows PowerShell 5.1 does not parse them at all
        }
    }

    # One step of a Windows job, through workflow_steps.py; Windows' Python lacks PyYAML.
    It 'a step <Case>' -Skip:($PSVersionTable.PSEdition -eq 'Desktop') -ForEach @(
        @{ Case = 'on checkout v4 is flagged'; Step = 'uses: actions/checkout@0123456789abcdef0123456789abcdef01234567 # v4.2.2'; Like = '*checkout v4.2.2 runs on Node 20*'; Flagged = 1 }
        @{ Case = 'on checkout v5 passes'; Step = 'uses: actions/checkout@0123456789abcdef0123456789abcdef01234567 # v5.0.0'; Like = '*checkout*'; Flagged = 0 }
        @{ Case = 'on upload-artifact v5, which only supports Node 24, is flagged'; Step = 'uses: actions/upload-artifact@0123456789abcdef0123456789abcdef01234567 # v5.0.0'; Like = '*upload-artifact v5.0.0 runs on Node 20*'; Flagged = 1 }
        @{ Case = 'on a tag is flagged'; Step = 'uses: actions/checkout@v5'; Like = '*checkout@v5 is not pinned to a commit*'; Flagged = 1 }
        @{ Case = 'running e2e without a time limit is flagged'; Step = 'run: python -m unittest e2e_scenarios'; Like = '*step 1: no timeout-minutes*'; Flagged = 1 }
        @{ Case = 'running e2e with a time limit passes'; Step = 'run: python -m unittest e2e_scenarios', 'timeout-minutes: 20'; Like = '*timeout-minutes*'; Flagged = 0 }
    ) {
        $file = Join-Path $TestDrive 'ci.yml'
        [System.IO.File]::WriteAllText($file, "jobs:`n  w:`n    runs-on: windows-2022`n    steps:`n      - $($Step -join "`n        ")`n")
        $python = 'python3'
        & $python -c 'import yaml' 2>$null
        if ($LASTEXITCODE) { $python = '/usr/bin/python3' }
        $problems = @((& $python (Join-Path $PSScriptRoot 'workflow_steps.py') $file | Out-String | ConvertFrom-Json).problems)
        @($problems -like $Like).Count | Should -Be $Flagged -Because ($problems -join '; ')
    }

    It 'a non-ASCII byte is found, with its line' {
        Get-NonAsciiProblem ([System.Text.Encoding]::UTF8.GetBytes("# ok`n# caf$([char]0xE9)")) | Should -Be 'line 2: a non-ASCII byte (0xC3)'
    }

    It 'README blocks are found in lists too, indentation taken off' {
        $fence = '```'
        $blocks = @(Get-ReadmeBlock (@('text', '- item', "  ${fence}powershell", '  $a = 1', "  $fence", "${fence}bat", 'x', $fence) -join "`n"))
        $blocks.Count | Should -Be 1
        $blocks[0].Text | Should -Be '$a = 1'
        $blocks[0].Line | Should -Be 3
    }
}
