// Writes the sample "sunset.bmp" and "colormap.bmp" into the given folder.
#include <cstdio>
#include <string>

#include "sample_pictures.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const bool written =
        bmp::writeFile(folder + "/sunset.bmp", bmp::encode(samples::sunset(512))) &&
        bmp::writeFile(folder + "/colormap.bmp", bmp::encode(samples::colorMap(256)));
    if (!written) {
        std::fprintf(stderr, "%s: cannot write the pictures into %s\n", argv[0], folder.c_str());
        return 1;
    }
    return 0;
}
