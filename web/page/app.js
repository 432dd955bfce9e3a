"use strict";
// The page as an app a person keeps: installed from the browser, working
// offline through sw.js once visited, told of a newer version, and taking a
// picture shared to it or opened with it as the sunset.

// Served over http(s) (localhost counts as secure), the service worker keeps
// the site. Registered once the page has loaded, so that caching the site
// never holds up the program's start, and asked on every later visit
// whether a newer version has been deployed. A page opened from disk has
// none.
if ("serviceWorker" in navigator && /^https?:$/.test(location.protocol)) {
  const hadWorker = Boolean(navigator.serviceWorker.controller);
  // A newer version took over: this page and its program go on as they
  // are, and the next visit is the newer version.
  navigator.serviceWorker.addEventListener("controllerchange", () => {
    if (!hadWorker || $("update").childElementCount) return;
    const reload = document.createElement("button");
    reload.type = "button";
    reload.textContent = "Reload";
    reload.addEventListener("click", () => location.reload());
    $("update").append("A new version is ready: ", reload);
  });
  addEventListener("load", () => {
    navigator.serviceWorker.register("sw.js").then((registration) => hadWorker && registration.update())
      .catch((error) => console.log("No offline use: " + error.message));
  });
}

// Chromium offers installation through an event; other browsers have their
// own ways, which the help names.
let installPrompt = null;
addEventListener("beforeinstallprompt", (event) => {
  event.preventDefault();
  installPrompt = event;
  $("install").hidden = false;
});
$("install").addEventListener("click", async () => {
  if (!installPrompt) return;
  const prompt = installPrompt;
  installPrompt = null;
  $("install").hidden = true;
  await prompt.prompt();
});
addEventListener("appinstalled", () => {
  installPrompt = null;
  $("install").hidden = true;
});

// A picture shared to the app: sw.js keeps it and leads here, to #shared.
if (location.hash === "#shared" && "caches" in window) {
  history.replaceState(null, "", location.pathname + location.search);
  (async () => {
    const cache = await caches.open("orvane-shared");
    const shared = await cache.match("shared-picture");
    if (!shared) return;
    await cache.delete("shared-picture");
    const name = decodeURIComponent(shared.headers.get("X-Name") || "shared picture");
    takePicture("sunset", new File([await shared.blob()], name, { type: shared.headers.get("Content-Type") || "" }), null);
  })().catch((error) => showNotice("The shared picture could not be taken: " + error.message));
}

// A picture opened with the installed app (the manifest's file_handlers).
if ("launchQueue" in window) {
  launchQueue.setConsumer(async ({ files }) => {
    if (files.length) takePicture("sunset", await files[0].getFile(), null);
  });
}
