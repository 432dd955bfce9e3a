"use strict";
// Keeps the site for use offline, one version at a time. Installing caches
// every file of this version, each checked against its digest, so that a
// deploy caught half-way is never kept; activating deletes older versions'
// caches. The page loads all its code when it opens (its scripts are named
// by their contents), so a page already open goes on whole when a newer
// version takes over, and its next visit is the newer version, whole.
// It also receives a picture shared to the installed app.

const SITE = null;  // the build writes the version and each file's digest here
const CACHE = "orvane-" + SITE.version;
const SHARED = "orvane-shared";  // the last picture shared to the app
const at = (name) => new URL(name, registration.scope).href;

async function digest(response) {
  const hash = new Uint8Array(await crypto.subtle.digest("SHA-256", await response.arrayBuffer()));
  return Array.from(hash, (byte) => byte.toString(16).padStart(2, "0")).join("");
}

addEventListener("install", (event) => event.waitUntil((async () => {
  const cache = await caches.open(CACHE);
  await Promise.all(Object.entries(SITE.files).map(async ([name, expected]) => {
    // Past the browser's HTTP cache, which may still hold an older file.
    const response = await fetch(at(name), { cache: "reload" });
    if (!response.ok || await digest(response.clone()) !== expected) throw new Error(name + ": not this version's");
    await cache.put(at(name), response);
  }));
  await skipWaiting();
})()));

addEventListener("activate", (event) => event.waitUntil((async () => {
  for (const name of await caches.keys()) {
    if (name.startsWith("orvane-") && name !== CACHE && name !== SHARED) await caches.delete(name);
  }
  await clients.claim();
})()));

// A share (the manifest's share_target) posts the picture here; the page it
// leads to takes it as the sunset.
async function receiveShare(request) {
  const picture = (await request.formData()).getAll("picture").find((value) => value instanceof File);
  if (picture) {
    const cache = await caches.open(SHARED);
    await cache.put(at("shared-picture"), new Response(picture, {
      headers: { "Content-Type": picture.type, "X-Name": encodeURIComponent(picture.name) } }));
  }
  return Response.redirect(at("./#shared"), 303);
}

addEventListener("fetch", (event) => {
  const request = event.request, url = new URL(request.url);
  if (!url.href.startsWith(registration.scope)) return;
  if (request.method === "POST" && url.pathname === new URL(at("share")).pathname) {
    event.respondWith(receiveShare(request));
    return;
  }
  if (request.method !== "GET") return;
  // A page of the site, whatever its query (GLUT's options), is index.html.
  const name = url.pathname.slice(new URL(registration.scope).pathname.length);
  const file = Object.hasOwn(SITE.files, name) ? name : request.mode === "navigate" ? "index.html" : null;
  if (!file) return;
  event.respondWith(caches.open(CACHE).then((cache) => cache.match(at(file))).then((cached) => cached || fetch(request)));
});
