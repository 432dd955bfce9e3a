// Emscripten's glutInit and glutCreateWindow under other names, for the
// wrappers in glut_window.cpp. Linked after Emscripten's GLUT library.
for (const name of ["glutInit", "glutCreateWindow"]) {
  const own = "emscripten" + name[0].toUpperCase() + name.slice(1) + "AsIs";
  const entry = {};
  for (const suffix of ["", "__deps", "__sig", "__proxy"]) {
    if (LibraryManager.library[name + suffix] !== undefined) entry["$" + own + suffix] = LibraryManager.library[name + suffix];
  }
  mergeInto(LibraryManager.library, entry);
}

mergeInto(LibraryManager.library, {
  emscriptenGlutInit__deps: ["$emscriptenGlutInitAsIs"],
  emscriptenGlutInit__sig: "vii",
  emscriptenGlutInit: function(argcp, argv) {
    emscriptenGlutInitAsIs(argcp, argv);
  },
  // A browser without WebGL may throw where it should give no context
  // (WebKit, where Emscripten's workaround for Safari meets a missing
  // WebGLRenderingContext): either way there is no window.
  emscriptenGlutCreateWindow__deps: ["$emscriptenGlutCreateWindowAsIs"],
  emscriptenGlutCreateWindow__sig: "ii",
  emscriptenGlutCreateWindow: function(title) {
    try {
      return emscriptenGlutCreateWindowAsIs(title);
    } catch (error) {
      return 0;
    }
  },
});
