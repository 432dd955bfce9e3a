"use strict";
// Turns one picture the browser can open into the 8-bit paletted bitmap the
// program reads, off the page's thread: decoded by the browser, scaled to at
// most 2048 pixels a side with its best filter, transparent parts on white,
// then its colours chosen by convert.wasm. The page starts a worker for
// each picture and ends it when another comes, so that only the last one
// counts and a slow decoding never holds anything up. The page starts it
// from its code, convert.js followed by this file (web/assemble_site.py),
// and hands it convert.wasm: a page opened from disk may fetch nothing.
//
// Message in: {file, head, wasm}: the file, its first 138 bytes (which hold
// the largest headers) and convert.wasm. Message out: {bitmap, colours,
// format, width, height, outWidth, outHeight}; or {untouched: why} when the
// file goes to the program as it is: a bitmap of the program's own kind (its
// loader judges it), or a file the browser cannot open as a picture (the
// program refuses it); or {failed: why} when the conversion itself failed.
// A worker that cannot read the file (WebKit's, on a page opened from disk)
// answers {decodeHere: true}; the page then sends {picture}, decoded.
const MAX_SIDE = 2048;

// The first bytes of each kind the browser may open, for the page's line.
const SIGNATURES = [
  ["JPEG", [0xFF, 0xD8, 0xFF]],
  ["PNG", [0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A]],
  ["GIF", [0x47, 0x49, 0x46, 0x38]],
  ["BMP", [0x42, 0x4D]],
  ["WebP", [0x52, 0x49, 0x46, 0x46, -1, -1, -1, -1, 0x57, 0x45, 0x42, 0x50]],
  ["AVIF", [-1, -1, -1, -1, 0x66, 0x74, 0x79, 0x70, 0x61, 0x76, 0x69, 0x66]],
  ["icon", [0x00, 0x00, 0x01, 0x00]],
];

function formatOf(head) {
  const found = SIGNATURES.find(([, bytes]) => bytes.every((b, i) => b < 0 || head[i] === b));
  return found ? found[0] : "picture";
}

// The program's own kind, as its loader judges a file's first bytes.
function programsOwn(module, head) {
  const at = module._malloc(head.length);
  if (!at) throw new Error("not enough memory for the picture");
  module.HEAPU8.set(head, at);
  const own = module._orvane_is_paletted_bitmap(at, head.length);
  module._free(at);
  return own;
}

let module = null, head = null;

async function start({ file, head: first, wasm }) {
  head = first;
  if (!head.length) return { untouched: "an empty file" };
  module = await createConverter({ wasmBinary: wasm });
  if (programsOwn(module, head)) return { untouched: "an 8-bit bitmap" };
  let picture;
  try {
    picture = await createImageBitmap(file);  // turned as its EXIF orientation says, by default
  } catch (error) {
    const readable = await file.slice(0, 1).arrayBuffer().then(() => true, () => false);
    return readable ? { untouched: "the browser cannot open it as a picture" } : { decodeHere: true };
  }
  return convert(picture);
}

function convert(picture) {
  const { width, height } = picture;
  const scale = Math.min(1, MAX_SIDE / Math.max(width, height));
  const outWidth = Math.max(1, Math.round(width * scale)), outHeight = Math.max(1, Math.round(height * scale));
  const canvas = new OffscreenCanvas(outWidth, outHeight);
  const context = canvas.getContext("2d", { willReadFrequently: true });
  context.fillStyle = "#fff";
  context.fillRect(0, 0, outWidth, outHeight);
  context.imageSmoothingQuality = "high";
  context.drawImage(picture, 0, 0, outWidth, outHeight);
  picture.close();
  const rgba = context.getImageData(0, 0, outWidth, outHeight).data;

  const at = module._malloc(rgba.length);
  if (!at) throw new Error("not enough memory for the picture");
  module.HEAPU8.set(rgba, at);
  const size = module._orvane_convert(at, outWidth, outHeight);
  module._free(at);
  const start = module._orvane_bitmap();
  const bitmap = module.HEAPU8.slice(start, start + size);
  return { bitmap, colours: module._orvane_colours(), format: formatOf(head), width, height, outWidth, outHeight };
}

onmessage = async ({ data }) => {
  let result;
  try {
    result = data.picture ? convert(data.picture) : await start(data);
  } catch (error) {
    result = { failed: String((error && error.message) || error) };
  }
  postMessage(result, result.bitmap ? [result.bitmap.buffer] : []);
};
