// The browser's GL 1.1 layer: its arithmetic against OpenGL 1.1's and GLU's
// definitions worked by hand, and its call text against apitrace's.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "call_text.h"
#include "gl_math.h"

using namespace webgl;

namespace {

// Row by row, as written on paper.
using Rows = double[16];

void expectMatrix(const Mat4& got, const Rows& rows, const std::string& what) {
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(got.m[i % 4 * 4 + i / 4], rows[i], 1e-15) << what << ", element " << i;
}

const double h = std::sqrt(0.5);

}  // namespace

TEST(WebGlMath, MatricesAreOpenGlsAndGlusOwn) {
    const struct {
        const char* what;
        Mat4 got;
        Rows rows;
    } cases[] = {
        {"z, 90", rotation(90, 0, 0, 1), {0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}},
        {"long y, 90", rotation(90, 0, 2, 0), {0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 0, 1}},
        {"diagonal, 120", rotation(120, 1, 1, 1), {0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1}},
        {"no axis", rotation(30, 0, 0, 0), {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}},
        {"turned, then moved", multiply(translation(0, 0, -8), rotation(90, 0, 1, 0)),
         {0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, -8, 0, 0, 0, 1}},
        {"scaled", scaling(2, 3, 4), {2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 0, 0, 0, 1}},
        {"window pixels", *ortho(0, 300, 0, 200, 0, 1),
         {2 / 300.0, 0, 0, -1, 0, 0.01, 0, -1, 0, 0, -2, -1, 0, 0, 0, 1}},
        {"box", *ortho(-1, 1, -1, 1, -1, 1), {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1}},
        {"GLU", *perspective(90, 2, 1, 3), {0.5, 0, 0, 0, 0, 1, 0, 0, 0, 0, -2, -3, 0, 0, -1, 0}},
    };
    for (const auto& c : cases) expectMatrix(c.got, c.rows, c.what);

    // Refused: GL makes no matrix of an empty box, GLU calls nothing.
    EXPECT_FALSE(ortho(1, 1, 0, 1, 0, 1) || ortho(0, 1, 2, 2, 0, 1) || ortho(0, 1, 0, 1, 3, 3));
    EXPECT_FALSE(perspective(45, 0, 1, 20) || perspective(0, 1, 1, 20) || perspective(45, 1, 5, 5));
}

TEST(WebGlMath, PerspectiveIsGlusToTheLastDigit) {
    // As apitrace recorded desktop GLU for 300x300 and 640x480 windows.
    EXPECT_EQ(callText("glMultMatrixd", "m", Matrix{perspective(45, 1, 1, 20)->m}),
              "glMultMatrixd(m = {2.414213562373095, 0, 0, 0, 0, 2.414213562373095, 0, 0, 0, 0, "
              "-1.105263157894737, -1, 0, 0, -2.105263157894737, 0})");
    EXPECT_EQ(callText("glMultMatrixd", "m", Matrix{perspective(45, 640.0 / 480, 1, 20)->m}),
              "glMultMatrixd(m = {1.810660171779821, 0, 0, 0, 0, 2.414213562373095, 0, 0, 0, 0, "
              "-1.105263157894737, -1, 0, 0, -2.105263157894737, 0})");
}

TEST(WebGlMath, NormalsTurnByTheInverseTranspose) {
    const Mat3 turned = normalMatrix(multiply(translation(5, 6, 7), rotation(90, 0, 0, 1)));
    const Mat3 scaled = normalMatrix(scaling(2, 4, 5));
    const double turnedWant[9] = {0, 1, 0, -1, 0, 0, 0, 0, 1};
    const double scaledWant[9] = {0.5, 0, 0, 0, 0.25, 0, 0, 0, 0.2};
    for (int i = 0; i < 9; ++i) {
        EXPECT_NEAR(turned.m[i], turnedWant[i], 1e-15) << i;
        EXPECT_NEAR(scaled.m[i], scaledWant[i], 1e-15) << i;
        EXPECT_EQ(normalMatrix(scaling(1, 0, 1)).m[i], 0) << "singular";
    }
    // A skewed one: its normal matrix's transpose times it is the identity.
    Mat4 skew = rotation(30, 1, 2, 3);
    skew.m[4] = 0.7;
    const Mat3 n = normalMatrix(skew);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            double sum = 0;
            for (int k = 0; k < 3; ++k) sum += n.m[r * 3 + k] * skew.m[c * 4 + k];
            EXPECT_NEAR(sum, r == c, 1e-14) << r << ", " << c;
        }
}

TEST(WebGlMath, SphereMapGivesOpenGlsCoordinates) {
    // r = u - 2n(n.u), m = 2 sqrt(rx^2 + ry^2 + (rz + 1)^2), (rx/m + 1/2, ry/m + 1/2).
    const double r8 = std::sqrt(8.0), r36 = 2 * std::sqrt(3.6), r04 = 2 * std::sqrt(0.4);
    const struct {
        Mat4 modelView;
        Vec3 position, normal;
        double s, t;
    } cases[] = {
        {identity(), {0, 0, -8}, {0, 0, 1}, 0.5, 0.5},                  // facing the eye
        {identity(), {0, 0, -8}, {h, 0, h}, 0.5 + 1 / r8, 0.5},          // r = (1, 0, 0)
        {identity(), {3, 4, 0}, {0, 0, 1}, 0.5 + 0.6 / r8, 0.5 + 0.8 / r8},  // u = (0.6, 0.8, 0)
        {identity(), {0, 3, -4}, {0, 0, 1}, 0.5, 0.5 + 0.6 / r36},       // r = (0, 0.6, 0.8)
        // Stretched along y: eye (0, 3, -4), the normal (0, 2, 0) shrinks to (0, 1, 0).
        {multiply(translation(0, 0, -4), scaling(1, 2, 1)), {0, 1.5, 0}, {0, 2, 0}, 0.5,
         0.5 - 0.6 / r04},
    };
    for (const auto& c : cases) {
        const TexCoord got = sphereMap(transformPoint(c.modelView, c.position),
                                       transformNormal(normalMatrix(c.modelView), c.normal));
        const std::string at = std::to_string(c.position.y) + ", " + std::to_string(c.position.z);
        EXPECT_NEAR(got.s, c.s, 1e-14) << at;
        EXPECT_NEAR(got.t, c.t, 1e-14) << at;
    }
}

TEST(WebGlMath, QuadsSplitAsMesaSplitsThem) {
    std::vector<Vertex> quads(9), triangles(1);  // one incomplete quad; one vertex there already
    for (int i = 0; i < 9; ++i) quads[i].position[0] = float(i);
    triangles[0].position[0] = -1;
    appendQuadTriangles(quads, &triangles);
    std::vector<float> order;
    for (const Vertex& v : triangles) order.push_back(v.position[0]);
    EXPECT_EQ(order, (std::vector<float>{-1, 0, 1, 3, 1, 2, 3, 4, 5, 7, 5, 6, 7}));
}

TEST(WebGlCallText, CallsReadAsApitraceWritesThem) {
    double angle = 0;
    for (int i = 0; i < 3; ++i) angle += 0.2;
    const unsigned one = 1;
    const std::pair<std::string, std::string> cases[] = {
        {callText("glRotated", "angle", angle, "x", 0.0, "y", 1.0, "z", 0.0),
         "glRotated(angle = 0.6000000000000001, x = 0, y = 1, z = 0)"},
        {callText("glNormal3d", "nx", -0.9999999957076562, "ny", 9.265358966049026e-05, "nz", -0.0),
         "glNormal3d(nx = -0.9999999957076562, ny = 9.265358966049026e-05, nz = -0)"},
        {callText("glTranslatef", "x", 104.761905f, "y", 0.0f, "z", 0.0f),
         "glTranslatef(x = 104.762, y = 0, z = 0)"},
        {callText("glScalef", "x", float(24 / 152.38), "y", 1.5f, "z", 100.0f),
         "glScalef(x = 0.157501, y = 1.5, z = 100)"},
        {callText("glClear", "mask", Bits{0x4100}),
         "glClear(mask = GL_DEPTH_BUFFER_BIT | GL_COLOR_BUFFER_BIT)"},
        {callText("glPushAttrib", "mask", Bits{0x2000}), "glPushAttrib(mask = GL_ENABLE_BIT)"},
        {callText("glGenTextures", "n", 1, "textures", Names{1, &one}),
         "glGenTextures(n = 1, textures = &1)"},
        {callText("glTexImage2D", "target", Enum{0x0DE1}, "level", 0, "internalformat",
                  Enum{0x1907}, "width", 512, "height", 512, "border", 0, "format", Enum{0x1907},
                  "type", Enum{0x1401}, "pixels", Blob{786432}),
         "glTexImage2D(target = GL_TEXTURE_2D, level = 0, internalformat = GL_RGB, width = 512, "
         "height = 512, border = 0, format = GL_RGB, type = GL_UNSIGNED_BYTE, "
         "pixels = blob(786432))"},
        {callText("glTexGeni", "coord", Enum{0x2001}, "pname", Enum{0x2500}, "param", Enum{0x2402}),
         "glTexGeni(coord = GL_T, pname = GL_TEXTURE_GEN_MODE, param = GL_SPHERE_MAP)"},
        {callText("glEndList"), "glEndList()"},
        {text(0.1 + 0.2) + " " + text(1 / 3.0) + " " + text(1e21) + " " + text(-5e-324),
         "0.3 0.3333333333333333 1e+21 -4.940656458412465e-324"},
    };
    for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
}
