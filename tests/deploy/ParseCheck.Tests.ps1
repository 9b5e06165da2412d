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
