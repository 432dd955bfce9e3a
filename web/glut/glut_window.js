// Emscripten's glutInit and glutCreateWindow under other names, for the
// wrappers in glut_window.cpp. Linked after Emscripten's GLUT library.
const emscriptenGlut = (name, as) => {
  const entry = {};
  for (const suffix of ["", "__deps", "__sig", "__proxy"]) {
    if (LibraryManager.library[name + suffix] !== undefined) entry[as + suffix] = LibraryManager.library[name + suffix];
  }
  mergeInto(LibraryManager.library, entry);
};
emscriptenGlut("glutInit", "emscriptenGlutInit");
emscriptenGlut("glutCreateWindow", "$emscriptenGlutCreateWindowAsIs");

mergeInto(LibraryManager.library, {
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
