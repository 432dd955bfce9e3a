// Ring (torus) geometry, computed without GL so it can be checked directly.
#pragma once

#include <cmath>

namespace ring {

// The angle constant every angle of the mesh is computed with. Four decimals
// on purpose: the closing segment absorbs the difference to the true value.
constexpr double PI = 3.1415;

struct Vec3 {
    double x, y, z;
};

struct SurfacePoint {
    Vec3 normal;    // unit length, away from the tube's centre line
    Vec3 position;  // centre-line point plus tubeRadius times the normal
};

// The point at ring angle `theta` and tube angle `phi` (radians) of a ring
// of centre-line radius `majorRadius` around the Y axis.
inline SurfacePoint surfacePoint(double majorRadius, double tubeRadius, double theta, double phi) {
    const double cosTheta = std::cos(theta), sinTheta = std::sin(theta);
    const double cosPhi = std::cos(phi), sinPhi = std::sin(phi);
    const Vec3 n{cosPhi * cosTheta, sinPhi, cosPhi * sinTheta};
    return {n, {majorRadius * cosTheta + tubeRadius * n.x, tubeRadius * n.y,
                majorRadius * sinTheta + tubeRadius * n.z}};
}

// Calls corner(s, t, theta, phi) for the four corners of every quad, in the
// order they are drawn: majorSegments x tubeSegments quads, each
// counter-clockwise seen from outside. s runs 0..5 around the ring and t 0..1
// around the tube without wrapping; the angles wrap to exactly 0 at the seams.
template <typename Corner>
void forEachRingCorner(int majorSegments, int tubeSegments, Corner&& corner) {
    const double m = majorSegments, n = tubeSegments;
    for (int i = 0; i < majorSegments; ++i) {
        const int ni = i == majorSegments - 1 ? 0 : i + 1;
        const double thetaI = 2 * i * PI / m, thetaN = 2 * ni * PI / m;
        const double uI = 5 * i / m, uN = 5 * (i + 1) / m;
        for (int j = 0; j < tubeSegments; ++j) {
            const int nj = j == tubeSegments - 1 ? 0 : j + 1;
            const double phiJ = 2 * j * PI / n, phiN = 2 * nj * PI / n;
            const double vJ = j / n, vN = (j + 1) / n;
            corner(uI, vJ, thetaI, phiJ);
            corner(uI, vN, thetaI, phiN);
            corner(uN, vN, thetaN, phiN);
            corner(uN, vJ, thetaN, phiJ);
        }
    }
}

}  // namespace ring
