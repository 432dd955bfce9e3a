// Fails when the program built into PROGRAM.js/.wasm takes a GL or GLU
// function from Emscripten's WebGL library instead of the layer in web/gl,
// and removes both files then, as a failed link leaves nothing to run.
//   node check_imports.js PROGRAM.js
// Each import of the wasm is looked up in the table the JavaScript hands
// the wasm (asmLibraryArg), whose values keep the functions' own names even
// where the import names are minified.
"use strict";
const fs = require("fs");

const script = process.argv[2];
const wasmFile = script.replace(/\.js$/, ".wasm");
const js = fs.readFileSync(script, "utf8");
const table = /var asmLibraryArg\s*=\s*\{([^}]*)\}/.exec(js);
if (!table) {
  console.error(`${script}: no asmLibraryArg table; cannot tell where its imports come from`);
  process.exit(1);
}
const source = new Map();
for (const [, key, value] of table[1].matchAll(/"([^"]+)"\s*:\s*([\w$]+)/g)) source.set(key, value);

const imports = WebAssembly.Module.imports(new WebAssembly.Module(fs.readFileSync(wasmFile)));
const functions = imports.filter((i) => i.kind === "function").map((i) => source.get(i.name) || i.name);
// _glFoo and _gluFoo are GL and GLU; _glutFoo is GLUT's and
// _emscripten_glFoo what the layer itself calls.
const strays = functions.filter((name) => /^_?glu?[A-Z]/.test(name));
if (strays.length) {
  console.error(`${script}: GL functions from outside the layer in web/gl: ` +
                strays.map((name) => name.replace(/^_/, "")).join(", "));
  fs.rmSync(script, { force: true });
  fs.rmSync(wasmFile, { force: true });
  process.exit(1);
}
