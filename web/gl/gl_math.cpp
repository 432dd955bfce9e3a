#include "gl_math.h"

#include <cmath>

namespace webgl {

namespace {

constexpr double pi = 3.14159265358979323846;

// A matrix from its rows as written on paper.
Mat4 fromRows(const double (&rows)[4][4]) {
    Mat4 out{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out.m[c * 4 + r] = rows[r][c];
    return out;
}

}  // namespace

Mat4 identity() {
    return scaling(1, 1, 1);
}

Mat4 multiply(const Mat4& a, const Mat4& b) {
    Mat4 out{};
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k) out.m[c * 4 + r] += a.m[k * 4 + r] * b.m[c * 4 + k];
    return out;
}

Mat4 translation(double x, double y, double z) {
    return fromRows({{1, 0, 0, x}, {0, 1, 0, y}, {0, 0, 1, z}, {0, 0, 0, 1}});
}

Mat4 scaling(double x, double y, double z) {
    return fromRows({{x, 0, 0, 0}, {0, y, 0, 0}, {0, 0, z, 0}, {0, 0, 0, 1}});
}

Mat4 rotation(double degrees, double x, double y, double z) {
    const double length = std::sqrt(x * x + y * y + z * z);
    if (length == 0) return identity();
    x /= length;
    y /= length;
    z /= length;
    const double c = std::cos(degrees * pi / 180), s = std::sin(degrees * pi / 180), d = 1 - c;
    return fromRows({{x * x * d + c, x * y * d - z * s, x * z * d + y * s, 0},
                     {y * x * d + z * s, y * y * d + c, y * z * d - x * s, 0},
                     {x * z * d - y * s, y * z * d + x * s, z * z * d + c, 0},
                     {0, 0, 0, 1}});
}

std::optional<Mat4> ortho(double left, double right, double bottom, double top, double zNear,
                          double zFar) {
    const double w = right - left, h = top - bottom, d = zFar - zNear;
    if (w == 0 || h == 0 || d == 0) return std::nullopt;
    return fromRows({{2 / w, 0, 0, -(right + left) / w},
                     {0, 2 / h, 0, -(top + bottom) / h},
                     {0, 0, -2 / d, -(zFar + zNear) / d},
                     {0, 0, 0, 1}});
}

std::optional<Mat4> perspective(double fovy, double aspect, double zNear, double zFar) {
    const double radians = fovy / 2 * pi / 180;
    const double deltaZ = zFar - zNear, sine = std::sin(radians);
    if (deltaZ == 0 || sine == 0 || aspect == 0) return std::nullopt;
    const double cotangent = std::cos(radians) / sine;
    return fromRows({{cotangent / aspect, 0, 0, 0},
                     {0, cotangent, 0, 0},
                     {0, 0, -(zFar + zNear) / deltaZ, -2 * zNear * zFar / deltaZ},
                     {0, 0, -1, 0}});
}

Mat3 normalMatrix(const Mat4& mv) {
    // The inverse transpose is the cofactor matrix over the determinant.
    auto a = [&](int r, int c) { return mv.m[c * 4 + r]; };
    Mat3 out{};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            const int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
            out.m[c * 3 + r] = a(r1, c1) * a(r2, c2) - a(r1, c2) * a(r2, c1);
        }
    const double det = a(0, 0) * out.m[0] + a(0, 1) * out.m[3] + a(0, 2) * out.m[6];
    for (double& v : out.m) v = det == 0 ? 0 : v / det;
    return out;
}

Vec3 transformPoint(const Mat4& m, const Vec3& p) {
    auto row = [&](int r) {
        return m.m[r] * p.x + m.m[4 + r] * p.y + m.m[8 + r] * p.z + m.m[12 + r];
    };
    return {row(0), row(1), row(2)};
}

Vec3 transformNormal(const Mat3& m, const Vec3& n) {
    auto row = [&](int r) { return m.m[r] * n.x + m.m[3 + r] * n.y + m.m[6 + r] * n.z; };
    return {row(0), row(1), row(2)};
}

// Mirrored line for line by sphereMap() in the vertex shader.
TexCoord sphereMap(const Vec3& eye, const Vec3& n) {
    const double length = std::sqrt(eye.x * eye.x + eye.y * eye.y + eye.z * eye.z);
    const Vec3 u{eye.x / length, eye.y / length, eye.z / length};
    const double nu = n.x * u.x + n.y * u.y + n.z * u.z;
    const Vec3 r{u.x - 2 * n.x * nu, u.y - 2 * n.y * nu, u.z - 2 * n.z * nu};
    const double m = 2 * std::sqrt(r.x * r.x + r.y * r.y + (r.z + 1) * (r.z + 1));
    return {r.x / m + 0.5, r.y / m + 0.5};
}

void appendQuadTriangles(const std::vector<Vertex>& quads, std::vector<Vertex>* triangles) {
    for (std::size_t q = 0; q + 4 <= quads.size(); q += 4)
        for (int corner : {0, 1, 3, 1, 2, 3}) triangles->push_back(quads[q + corner]);
}

}  // namespace webgl
