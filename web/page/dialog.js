"use strict";
// The program's warning box: the page's own modal dialog, which takes the
// focus to OK and, once closed, gives it back to where it was.

let settleWarningBox = null;

// Shows the box; the promise is settled when it is dismissed (OK, Escape).
function showWarningBox(caption, text) {
  $("warning-caption").textContent = caption;
  $("warning-text").textContent = text;
  $("warning").showModal();
  $("warning-ok").focus();
  return new Promise((resolve) => { settleWarningBox = resolve; });
}

// Closes the box without settling it, for a program that is gone.
function dropWarningBox() {
  if (!$("warning").open) return;
  settleWarningBox = null;
  $("warning").close();
}

$("warning").addEventListener("close", () => {
  if (settleWarningBox) settleWarningBox();
  settleWarningBox = null;
});
