// The arithmetic of OpenGL 1.1's vertex stage, in plain C++: the matrices
// the entry points build, the sphere map the vertex shader computes, and the
// quads split into triangles.
#pragma once

#include <optional>
#include <vector>

namespace webgl {

// Column-major, as GL keeps them: element (row r, column c) is m[c * 4 + r].
struct Mat4 {
    double m[16];
};
struct Mat3 {
    double m[9];
};
struct Vec3 {
    double x, y, z;
};
struct TexCoord {
    double s, t;
};

Mat4 identity();
Mat4 multiply(const Mat4& a, const Mat4& b);  // a * b: b acts first
Mat4 translation(double x, double y, double z);
Mat4 scaling(double x, double y, double z);
// Degrees about the axis (x, y, z); no turn about a zero axis.
Mat4 rotation(double degrees, double x, double y, double z);
// Nothing where GL refuses the call (an empty box).
std::optional<Mat4> ortho(double left, double right, double bottom, double top, double zNear,
                          double zFar);
// GLU's matrix; nothing where GLU makes no call (aspect, sine or depth 0).
std::optional<Mat4> perspective(double fovy, double aspect, double zNear, double zFar);

// The normal matrix: inverse transpose of the upper 3x3 (zero if singular).
Mat3 normalMatrix(const Mat4& modelView);
Vec3 transformPoint(const Mat4& m, const Vec3& p);  // w = 1
Vec3 transformNormal(const Mat3& m, const Vec3& n);
// GL_SPHERE_MAP's s and t for an eye-space position and normal.
TexCoord sphereMap(const Vec3& eye, const Vec3& normal);

// What the vertex shader receives per vertex.
struct Vertex {
    float position[4];
    float normal[3];
    float texCoord[2];
    float color[4];
};
// Appends quads v0 v1 v2 v3 as triangles (v0, v1, v3), (v1, v2, v3), as Mesa
// splits them; an incomplete last quad is dropped.
void appendQuadTriangles(const std::vector<Vertex>& quads, std::vector<Vertex>* triangles);

}  // namespace webgl
