// GLUT's options in the browser as freeglut reads them: geometry strings
// against X11's own parser, and the command line's order and complaints.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "glut_options.h"

using glut::Geometry;

// libX11's, declared here: its headers' macros clash with GoogleTest's names.
extern "C" int XParseGeometry(const char* text, int* x, int* y, unsigned* width, unsigned* height);

namespace {

std::string describe(const Geometry& g) {
    return std::to_string(g.found) + ": " + std::to_string(g.width) + "x" + std::to_string(g.height) +
           " at " + std::to_string(g.x) + "," + std::to_string(g.y);
}

}  // namespace

TEST(GlutOptions, GeometryIsReadAsXParseGeometryReadsIt) {
    std::vector<std::string> texts = {"", "640x480", "=640x480", "640X480", "X480", "x480", "640",
                                      "640x", "640x480+10+20", "640x480-0-0", "+10", "-10+-20",
                                      "--5", "5x+", "5x-3", "0x0", "640x480+", "640x480 ", "1x1+2+3+4",
                                      "=", "x", "+", "640x480+10", "640x480x3"};
    // And strings of geometry's characters at random, short enough not to
    // overflow X11's int.
    std::mt19937 random(7);
    const std::string alphabet = "0123456789xX+-=";
    for (int n = 0; n < 20000; ++n) {
        std::string text(random() % 9, ' ');
        for (char& c : text) c = alphabet[random() % alphabet.size()];
        texts.push_back(text);
    }
    for (const std::string& text : texts) {
        // X11 writes only the values it found, as parseGeometry fills only those.
        Geometry x11;
        x11.found = XParseGeometry(text.c_str(), &x11.x, &x11.y, &x11.width, &x11.height);
        EXPECT_EQ(describe(glut::parseGeometry(text.c_str())), describe(x11)) << '"' << text << '"';
    }
    // Beyond an int, sizes saturate rather than wrap.
    EXPECT_EQ(glut::parseGeometry("99999999999999999999x1").width, 4294967295u);
}

TEST(GlutOptions, TheLastGeometryWithBothSidesSizesTheWindow) {
    const struct {
        std::vector<const char*> argv;
        unsigned width, height;  // 0: no size
        const char* error;
    } cases[] = {
        {{"orvane"}, 0, 0, ""},
        {{"orvane", "-geometry", "640x480"}, 640, 480, ""},
        {{"orvane", "-geometry", "640x480", "-geometry", "800x600+5+5"}, 800, 600, ""},
        {{"orvane", "-geometry", "640"}, 0, 0, ""},
        {{"orvane", "-geometry", "junk"}, 0, 0, ""},
        {{"orvane", "-iconic", "-sync", "geometry", "-geometry", "1x2"}, 1, 2, ""},
        // -display takes the next argument, even an option.
        {{"orvane", "-display", "-geometry", "640x480"}, 0, 0, ""},
        {{"orvane", "-geometry"}, 0, 0, "-geometry parameter must be followed by window geometry settings"},
        {{"orvane", "-geometry", "640x480", "-display"}, 0, 0,
         "-display parameter must be followed by display name"},
    };
    for (const auto& c : cases) {
        const glut::Options options = glut::readOptions(static_cast<int>(c.argv.size()), c.argv.data());
        const std::string what = c.argv.size() > 1 ? c.argv[1] : "(none)";
        EXPECT_EQ(options.error, c.error) << what;
        EXPECT_EQ(options.width.value_or(0), c.width) << what;
        EXPECT_EQ(options.height.value_or(0), c.height) << what;
    }
}
