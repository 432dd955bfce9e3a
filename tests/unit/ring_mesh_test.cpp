// The ring's geometry, checked by arithmetic alone.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "ring_mesh.h"

namespace {

struct Corner {
    double s, t;
    ring::SurfacePoint p;
};

std::vector<Corner> corners(int majorSegments, int tubeSegments, double R = 2.0, double r = 0.5) {
    std::vector<Corner> out;
    ring::forEachRingCorner(majorSegments, tubeSegments,
                            [&](double s, double t, double theta, double phi) {
                                out.push_back({s, t, ring::surfacePoint(R, r, theta, phi)});
                            });
    return out;
}

ring::Vec3 sub(ring::Vec3 a, ring::Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
ring::Vec3 cross(ring::Vec3 a, ring::Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double dot(ring::Vec3 a, ring::Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double length(ring::Vec3 a) { return std::sqrt(dot(a, a)); }

void expectNear(ring::Vec3 actual, ring::Vec3 expected) {
    EXPECT_NEAR(actual.x, expected.x, 1e-12);
    EXPECT_NEAR(actual.y, expected.y, 1e-12);
    EXPECT_NEAR(actual.z, expected.z, 1e-12);
}

TEST(RingMesh, CountsFollowTheSegments) {
    for (auto [m, n, count] : {std::tuple{25, 20, 2000u}, {3, 7, 84u}, {1, 1, 4u}, {0, 20, 0u},
                               {25, 0, 0u}, {-3, 20, 0u}, {25, -1, 0u}})
        EXPECT_EQ(corners(m, n).size(), count) << m << " x " << n;
}

TEST(RingMesh, FirstQuadMatchesTheDesignedCorners) {
    const auto c = corners(25, 20);
    const double phi1 = 2 * 3.1415 / 20, theta1 = 2 * 3.1415 / 25;
    const double ring1 = 2.0 + 0.5 * std::cos(phi1);

    expectNear(c[0].p.position, {2.5, 0, 0});
    expectNear(c[0].p.normal, {1, 0, 0});
    expectNear(c[1].p.position, {ring1, 0.5 * std::sin(phi1), 0});
    expectNear(c[2].p.position,
               {ring1 * std::cos(theta1), 0.5 * std::sin(phi1), ring1 * std::sin(theta1)});
    expectNear(c[3].p.position, {2.5 * std::cos(theta1), 0, 2.5 * std::sin(theta1)});

    const double st[4][2] = {{0, 0}, {0, 0.05}, {0.2, 0.05}, {0.2, 0}};
    for (int k = 0; k < 4; ++k) {
        EXPECT_DOUBLE_EQ(c[k].s, st[k][0]) << "corner " << k;
        EXPECT_DOUBLE_EQ(c[k].t, st[k][1]) << "corner " << k;
    }
}

TEST(RingMesh, SeamsCloseExactlyWhileTextureCoordinatesRunOn) {
    const int M = 25, N = 20;
    const auto c = corners(M, N);
    // The last ring segment's far edge is the first segment's near edge.
    const std::size_t lastRing = static_cast<std::size_t>(M - 1) * N * 4;
    EXPECT_EQ(c[lastRing + 3].p.position.x, c[0].p.position.x);
    EXPECT_EQ(c[lastRing + 3].p.position.z, c[0].p.position.z);
    EXPECT_DOUBLE_EQ(c[lastRing + 3].s, 5.0);
    // The last tube segment's far edge is angle 0 again, at t = 1.
    const std::size_t lastTube = static_cast<std::size_t>(N - 1) * 4;
    EXPECT_EQ(c[lastTube + 1].p.position.y, 0.0);
    EXPECT_EQ(c[lastTube + 1].p.position.x, 2.5);
    EXPECT_DOUBLE_EQ(c[lastTube + 1].t, 1.0);

    // With the four-decimal PI the closing segment takes up the rest.
    const double regular = 2 * 3.1415 / M;
    const double pi = std::acos(-1.0), closing = 2 * pi - (M - 1) * regular;
    EXPECT_NEAR(closing - regular, 2 * (pi - 3.1415), 1e-12);
}

TEST(RingMesh, NormalsAreUnitAndPointAwayFromTheTube) {
    const double R = 2.0, r = 0.5;
    for (const Corner& c : corners(25, 20, R, r)) {
        EXPECT_NEAR(length(c.p.normal), 1.0, 1e-12);
        // From the nearest centre-line point to the vertex is r times the normal.
        const double around = std::atan2(c.p.position.z, c.p.position.x);
        const ring::Vec3 centre{R * std::cos(around), 0, R * std::sin(around)};
        const ring::Vec3 offset = sub(c.p.position, centre);
        EXPECT_NEAR(length(offset), r, 1e-12);
        EXPECT_NEAR(dot(offset, c.p.normal), r, 1e-12);
    }
}

TEST(RingMesh, QuadsAreCounterClockwiseSeenFromOutside) {
    const auto c = corners(25, 20);
    for (std::size_t q = 0; q < c.size(); q += 4) {
        // Newell's normal of the quad, summed over its edges.
        ring::Vec3 n{0, 0, 0};
        for (int k = 0; k < 4; ++k) {
            const ring::Vec3 a = c[q + k].p.position, b = c[q + (k + 1) % 4].p.position;
            const ring::Vec3 e = cross(a, b);
            n = {n.x + e.x, n.y + e.y, n.z + e.z};
        }
        const ring::Vec3 outward = c[q].p.normal;
        EXPECT_GT(dot(n, outward), 0.0) << "quad " << q / 4 << " faces inward";
    }
}

}  // namespace
