// Emscripten's glutInit and glutCreateWindow under other names, for the
// wrappers in glut_window.cpp. Linked after Emscripten's GLUT library.
for (const name of ["glutInit", "glutCreateWindow"]) {
  const own = "emscripten" + name[0].toUpperCase() + name.slice(1);
  const entry = {};
  for (const suffix of ["", "__deps", "__sig", "__proxy"]) {
    if (LibraryManager.library[name + suffix] !== undefined) entry[own + suffix] = LibraryManager.library[name + suffix];
  }
  mergeInto(LibraryManager.library, entry);
}
