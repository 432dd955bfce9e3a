// The page's conversion on the command line, for the colour benchmark:
// reads a binary PPM (P6, 8 bits a channel) and writes the 8-bit bitmap the
// page would make of it.
//   quantize_picture IN.ppm OUT.bmp
#include <cstdio>
#include <vector>

#include "bmp_writer.h"
#include "quantize.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IN.ppm OUT.bmp\n", argv[0]);
        return 2;
    }
    std::FILE* in = std::fopen(argv[1], "rb");
    int width = 0, height = 0, top = 0;
    if (!in || std::fscanf(in, "P6 %d %d %d", &width, &height, &top) != 3 || top != 255 ||
        std::fgetc(in) == EOF || width <= 0 || height <= 0) {
        std::fprintf(stderr, "%s: %s is not a binary PPM of 8-bit channels\n", argv[0], argv[1]);
        return 1;
    }
    std::vector<std::uint8_t> rgb(std::size_t(width) * height * 3);
    const bool read = std::fread(rgb.data(), 1, rgb.size(), in) == rgb.size();
    std::fclose(in);
    if (!read || !bmp::writeFile(argv[2], bmp::encode(quantize::toPaletted(rgb.data(), width, height, 3)))) {
        std::fprintf(stderr, "%s: cannot read %s or write %s\n", argv[0], argv[1], argv[2]);
        return 1;
    }
    return 0;
}
