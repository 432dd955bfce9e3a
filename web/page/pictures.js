"use strict";
// The program's two pictures. Each role keeps one record: the picture the
// program gets, which picture was taken last, its conversion under way and
// the converted bitmap's download. A picture of another kind is converted
// to the program's own in a worker (convert-worker.js), a new one for each
// picture: a newer picture for the role ends the older one's conversion, so
// only the last one counts and a slow one holds nothing up. The worker's
// code and the sample pictures come with the page (converter.js and
// samples.js, made by web/assemble_site.py), as a page opened from disk
// may fetch nothing.

const roles = {};
for (const role of ["sunset", "colormap"]) {
  const name = role + ".bmp", sample = typeof ORVANE_SAMPLES === "undefined" ? null : ORVANE_SAMPLES[name];
  roles[role] = {
    name,                 // the name the program opens
    // { label, bytes } for a file, { label, folder: true } for a folder
    // (which the program refuses as it refuses one on disk), or null.
    picture: null,
    turn: 0,              // the number of the picture taken last
    conversion: null,     // { worker, done } while one runs
    download: null,       // the converted bitmap's object URL
    sample: sample ? inflate(sample) : null,  // the bytes to come, where the site has one
  };
}

// Puts the pictures into the program's file system, before it starts.
function putPictures(fs) {
  for (const { name, picture } of Object.values(roles)) {
    if (!picture) continue;
    if (picture.folder) fs.mkdir(name);
    else fs.writeFile(name, picture.bytes);
  }
}

function showCurrentPictures() {
  for (const [role, { picture }] of Object.entries(roles)) $("current-" + role).textContent = picture?.label || "none";
}

// The line under the role's box, with a link to the converted bitmap.
function showConversionLine(role, line, bitmap) {
  const record = roles[role], where = $("converted-" + role);
  where.textContent = line;
  if (record.download) URL.revokeObjectURL(record.download);
  record.download = bitmap ? URL.createObjectURL(new Blob([bitmap], { type: "image/bmp" })) : null;
  if (!bitmap) return;
  const link = document.createElement("a");
  link.href = record.download;
  link.download = record.name;
  link.textContent = "Download " + record.name;
  where.append(" ", link);
}

// Ends the role's conversion, if any, and clears its line.
function endConversion(role) {
  const conversion = roles[role].conversion;
  roles[role].conversion = null;
  if (conversion) {
    conversion.worker.terminate();
    conversion.done(null);
  }
  showConversionLine(role, "");
}

let converterCode = null, converterWasm = null;

// The worker's answer for the file (see convert-worker.js), or null when a
// newer picture for the role came first. Where the worker cannot read files
// (WebKit's, on a page opened from disk), the page decodes the picture and
// hands it over.
function convertInWorker(role, file, bytes) {
  return new Promise((done) => {
    let worker;
    try {
      converterCode ??= URL.createObjectURL(new Blob([ORVANE_CONVERTER.code], { type: "text/javascript" }));
      converterWasm ??= bytesFromBase64(ORVANE_CONVERTER.wasm);
      worker = new Worker(converterCode);
    } catch (error) {
      return done({ failed: String(error.message || error) });
    }
    roles[role].conversion = { worker, done };
    const current = () => roles[role].conversion?.worker === worker;
    const finish = (result) => {
      if (!current()) return;
      roles[role].conversion = null;
      worker.terminate();
      done(result);
    };
    worker.onmessage = async ({ data }) => {
      if (!data.decodeHere) return finish(data);
      try {
        const picture = await createImageBitmap(file);
        if (current()) worker.postMessage({ picture }, [picture]);
      } catch (error) {
        finish({ untouched: "the browser cannot open it as a picture" });
      }
    };
    worker.onerror = (event) => {
      event.preventDefault();
      finish({ failed: event.message || "the converter could not be loaded" });
    };
    // The head: as many bytes as the largest headers take (kBitmapHeadBytes).
    worker.postMessage({ file, head: bytes.slice(0, 138), wasm: converterWasm });
  });
}

// What the worker did, in one line.
function describeConversion(label, result) {
  if (result.bitmap) {
    const kind = (/^[aeiou]/i.test(result.format) ? "an " : "a ") + result.format;
    return `${label}: ${kind} of ${result.width}x${result.height}, converted to a ${result.colours}-colour ` +
           `bitmap of ${result.outWidth}x${result.outHeight}`;
  }
  return `${label}: ${result.untouched || "not converted (" + result.failed + ")"}; given to the program as it is`;
}

// Takes a picture for the role and starts the program on it. A folder
// becomes a folder of the picture's name; a file the browser cannot read is
// turned down here; a picture of another kind is converted first.
async function takePicture(role, file, entry) {
  const record = roles[role];
  if (!file) {
    showNotice(record.name + ": the browser gave no file for what was dropped; nothing changed.");
    return;
  }
  const turn = ++record.turn, label = file.name;
  if (entry && entry.isDirectory) {
    endConversion(role);
    record.picture = { label: label + " (a folder)", folder: true };
    return startUnlessWaiting();
  }
  let bytes;
  try {
    bytes = new Uint8Array(await file.arrayBuffer());
  } catch (error) {
    if (turn === record.turn) {
      --record.turn;  // nothing changed: a conversion under way still counts
      showNotice(record.name + ": " + label + " cannot be read by the browser (" + error.name + "); nothing changed.");
    }
    return;
  }
  if (turn !== record.turn) return;
  endConversion(role);
  showConversionLine(role, label + ": converting…");
  const result = await convertInWorker(role, file, bytes);
  if (!result || turn !== record.turn) return;
  showConversionLine(role, describeConversion(label, result), result.bitmap);
  record.picture = { label, bytes: result.bitmap || bytes };
  startUnlessWaiting();
}

// Takes the sample pictures, ending the conversions under way; false when
// a picture chosen meanwhile counts instead for a role.
async function takeSamples() {
  const taken = {};
  for (const [role, record] of Object.entries(roles)) {
    taken[role] = ++record.turn;
    endConversion(role);
  }
  let all = true;
  for (const [role, record] of Object.entries(roles)) {
    const bytes = await record.sample;
    if (taken[role] !== record.turn) all = false;
    else record.picture = bytes ? { label: record.name + " (sample)", bytes } : null;
  }
  return all;
}

async function startOnSamples() {
  if (await takeSamples()) startUnlessWaiting();
}

for (const [role, record] of Object.entries(roles)) {
  const input = $(role), zone = $("drop-" + role);
  input.addEventListener("change", () => {
    if (input.files.length) takePicture(role, input.files[0], null);
    input.value = "";
  });
  zone.addEventListener("dragover", (event) => {
    event.preventDefault();
    zone.classList.add("over");
  });
  zone.addEventListener("dragleave", () => zone.classList.remove("over"));
  zone.addEventListener("drop", (event) => {
    event.preventDefault();
    zone.classList.remove("over");
    const items = [...event.dataTransfer.items].filter((item) => item.kind === "file");
    if (items.length !== 1) {
      showNotice(record.name + ": " + items.length + " files dropped; drop one picture. Nothing changed.");
      return;
    }
    const entry = items[0].webkitGetAsEntry ? items[0].webkitGetAsEntry() : null;
    takePicture(role, items[0].getAsFile(), entry);
  });
}
// A drop anywhere else would make the browser leave the page for the file.
window.addEventListener("dragover", (event) => event.preventDefault());
window.addEventListener("drop", (event) => event.preventDefault());
$("samples").addEventListener("click", startOnSamples);

startOnSamples();
