# Parses every PowerShell script of the repository with PowerShell's own parser: each .ps1
# file, each PowerShell step of the CI workflows, each script the end-to-end tests hand
# Windows PowerShell, and each ```powershell block of README.md.
# Also fails on what workflow_steps.py finds wrong with the shape of the Windows CI jobs.
# Fails on any parse error, on syntax that Windows PowerShell 5.1 lacks (what fleets run),
# on a `net user ... /add` without /Y, which may ask (Y/N), and on non-ASCII bytes in a .ps1 file
# (5.1 reads a file without a byte-order mark as ANSI).
# Exit code 0 when all is well, 1 otherwise; the last line sums it up.
param(
    [string]$Root = (Join-Path $PSScriptRoot '../..'),
    [string]$Python = 'python3'
)
Set-StrictMode -Version Latest
$ErrorActionPreference = 'Stop'

function Get-SyntaxProblem([string]$Text) {
    # Parse errors first, then what parses only in PowerShell 7.
    $tokens = $null
    $errors = $null
    $ast = [System.Management.Automation.Language.Parser]::ParseInput($Text, [ref]$tokens, [ref]$errors)
    foreach ($e in $errors) { "line $($e.Extent.StartLineNumber): $($e.Message)" }
    $newer = {
        param($node)
        switch ($node.GetType().Name) {
            'TernaryExpressionAst' { return $true }
            'PipelineChainAst' { return $true }
            'BinaryExpressionAst' { return "$($node.Operator)" -eq 'QuestionQuestion' }
            'AssignmentStatementAst' { return "$($node.Operator)" -eq 'QuestionQuestionEquals' }
            'ScriptBlockAst' { return $null -ne $node.PSObject.Properties['CleanBlock'] -and $null -ne $node.CleanBlock }
        }
        $property = $node.PSObject.Properties['NullConditional']
        return $null -ne $property -and $property.Value
    }
    foreach ($node in $ast.FindAll($newer, $true)) {
        "line $($node.Extent.StartLineNumber): Windows PowerShell 5.1 cannot parse '$($node.Extent.Text)'"
    }
    # net user asks "(Y/N)" before it takes a password over 14 characters, and may wait for
    # the answer (chef/knife-ec2#470, puppetlabs/puppet#7792): every /add answers it with /Y.
    $netUser = {
        param($node)
        $node -is [System.Management.Automation.Language.CommandAst] -and
            $node.CommandElements[0].Extent.Text -match '(^|[\\/''"])net(\.exe)?[''"]?$'
    }
    foreach ($command in $ast.FindAll($netUser, $true)) {
        $texts = @($command.CommandElements | ForEach-Object { $_.Extent.Text })
        if ($texts -contains '/add' -and -not @($texts -match '^/y(es)?$').Count) {
            "line $($command.Extent.StartLineNumber): net user /add without /Y may ask (Y/N)"
        }
    }
}

function Get-NonAsciiProblem([byte[]]$Bytes) {
    $line = 1
    foreach ($b in $Bytes) {
        if ($b -gt 127) { return "line ${line}: a non-ASCII byte (0x$('{0:X2}' -f $b))" }
        if ($b -eq 10) { $line++ }
    }
}

function Get-ReadmeBlock([string]$Text) {
    # Each ```powershell block, its list indentation taken off; Line is where it starts.
    $lines = $Text -split "`r?`n"
    for ($i = 0; $i -lt $lines.Count; $i++) {
        if ($lines[$i] -match '^(\s*)```powershell\s*$') {
            $indent = $Matches[1].Length
            $body = New-Object System.Collections.Generic.List[string]
            for ($j = $i + 1; $j -lt $lines.Count -and $lines[$j] -notmatch '^\s*```\s*$'; $j++) {
                $body.Add($lines[$j].Substring([Math]::Min($indent, $lines[$j].Length - $lines[$j].TrimStart().Length)))
            }
            [pscustomobject]@{ Line = $i + 1; Text = ($body -join "`n") }
            $i = $j
        }
    }
}

if ($MyInvocation.InvocationName -eq '.') { return }

$Root = (Resolve-Path $Root).Path
$problems = New-Object System.Collections.Generic.List[string]
$counts = @{ Files = 0; Blocks = 0; Steps = 0; Scripts = 0 }

$files = Get-ChildItem -LiteralPath $Root -Recurse -File -Filter '*.ps1' |
    Where-Object { $_.FullName.Substring($Root.Length) -notmatch '^[\\/](build|\.git)[\\/]' }
foreach ($file in $files) {
    $counts.Files++
    $name = $file.FullName.Substring($Root.Length + 1)
    $bytes = [System.IO.File]::ReadAllBytes($file.FullName)
    foreach ($p in @(Get-NonAsciiProblem $bytes) + @(Get-SyntaxProblem ([System.Text.Encoding]::ASCII.GetString($bytes)))) {
        if ($p) { $problems.Add("${name}: $p") }
    }
}

$readme = Join-Path $Root 'README.md'
foreach ($block in @(Get-ReadmeBlock ([System.IO.File]::ReadAllText($readme)))) {
    $counts.Blocks++
    foreach ($p in @(Get-SyntaxProblem $block.Text)) { $problems.Add("README.md, block at line $($block.Line): $p") }
}

$workflows = @(Get-ChildItem -LiteralPath (Join-Path $Root '.github/workflows') -Filter '*.yml' | ForEach-Object { $_.FullName })
$e2e = @(Get-ChildItem -LiteralPath (Join-Path $Root 'tests/e2e') -Filter '*.py' | ForEach-Object { $_.FullName })
$json = & $Python (Join-Path $PSScriptRoot 'workflow_steps.py') @workflows @e2e
if ($LASTEXITCODE -ne 0) { throw "$Python could not read the workflows (it needs PyYAML)" }
$workflow = ($json -join "`n") | ConvertFrom-Json
foreach ($step in @($workflow.steps)) {
    $counts.Steps++
    foreach ($p in @(Get-SyntaxProblem $step.script)) { $problems.Add("$($step.where): $p") }
}
foreach ($script in @($workflow.scripts)) {
    $counts.Scripts++
    foreach ($p in @(Get-SyntaxProblem $script.script)) { $problems.Add("$($script.where): $p") }
}
# The Windows jobs' shape: see workflow_steps.py.
foreach ($p in @($workflow.problems)) { $problems.Add($p) }

foreach ($p in $problems) { Write-Output $p }
$what = "$($counts.Files) .ps1 files, $($counts.Blocks) README blocks, $($counts.Steps) workflow steps, $($counts.Scripts) e2e scripts"
if ($problems.Count) {
    Write-Output "parse check: $($problems.Count) problem(s) in $what"
    exit 1
}
Write-Output "parse check: $what parse as Windows PowerShell 5.1, and the Windows CI jobs hold their shape"
exit 0
