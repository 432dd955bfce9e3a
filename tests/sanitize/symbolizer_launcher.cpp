// Starts the symbolizer that the sanitizers run to name the frames of a
// report (and to match the leak suppressions). They start it with the
// program's environment, whose preloaded libraries (Mesa's driver, the test
// probes, which log to files named in that environment) must not run in it.
// Linked statically, this launcher gets nothing preloaded itself, and it
// drops the preloads before starting the real symbolizer.
#include <unistd.h>

#include <cstdlib>

int main(int, char** argv) {
    unsetenv("LD_PRELOAD");
    execv(LLVM_SYMBOLIZER, argv);
    return 127;
}
