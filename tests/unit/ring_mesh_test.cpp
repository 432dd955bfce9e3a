// The ring's geometry, checked by arithmetic alone.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "ring_mesh.h"

namespace {

using ring::Vec3;

struct Corner {
    double s, t;
    ring::SurfacePoint p;
};

std::vector<Corner> corners(int majorSegments, int tubeSegments) {
    std::vector<Corner> out;
    ring::forEachRingCorner(majorSegments, tubeSegments, [&](double s, double t, double theta, double phi) {
        out.push_back({s, t, ring::surfacePoint(2.0, 0.5, theta, phi)});
    });
    return out;
}

double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

void expectNear(Vec3 actual, Vec3 expected) {
    EXPECT_NEAR(actual.x, expected.x, 1e-12);
    EXPECT_NEAR(actual.y, expected.y, 1e-12);
    EXPECT_NEAR(actual.z, expected.z, 1e-12);
}

TEST(RingMesh, FirstQuadAndCountsFollowTheSegments) {
    for (auto [m, n, count] : {std::tuple{3, 7, 84u}, {1, 1, 4u}, {0, 20, 0u}, {25, -1, 0u}})
        EXPECT_EQ(corners(m, n).size(), count) << m << " x " << n;
    const auto c = corners(25, 20);
    ASSERT_EQ(c.size(), 2000u);
    const double phi1 = 2 * 3.1415 / 20, theta1 = 2 * 3.1415 / 25, ring1 = 2.0 + 0.5 * std::cos(phi1);
    const Vec3 positions[4] = {{2.5, 0, 0},
                               {ring1, 0.5 * std::sin(phi1), 0},
                               {ring1 * std::cos(theta1), 0.5 * std::sin(phi1), ring1 * std::sin(theta1)},
                               {2.5 * std::cos(theta1), 0, 2.5 * std::sin(theta1)}};
    const double st[4][2] = {{0, 0}, {0, 0.05}, {0.2, 0.05}, {0.2, 0}};
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE("corner " + std::to_string(k));
        expectNear(c[k].p.position, positions[k]);
        EXPECT_DOUBLE_EQ(c[k].s, st[k][0]);
        EXPECT_DOUBLE_EQ(c[k].t, st[k][1]);
    }
}

TEST(RingMesh, SeamsCloseExactlyWhileTextureCoordinatesRunOn) {
    const auto c = corners(25, 20);
    // The last ring segment's far edge is the first one's near edge, at s = 5.
    const Corner& lastRing = c[24 * 20 * 4 + 3];
    EXPECT_EQ(lastRing.p.position.x, c[0].p.position.x);
    EXPECT_EQ(lastRing.p.position.z, c[0].p.position.z);
    EXPECT_DOUBLE_EQ(lastRing.s, 5.0);
    // The last tube segment's far edge is angle 0 again, at t = 1.
    const Corner& lastTube = c[19 * 4 + 1];
    EXPECT_EQ(lastTube.p.position.y, 0.0);
    EXPECT_EQ(lastTube.p.position.x, 2.5);
    EXPECT_DOUBLE_EQ(lastTube.t, 1.0);
}

// Normals of unit length, pointing from the tube's centre line to the
// vertex; every quad counter-clockwise seen from outside.
TEST(RingMesh, NormalsPointOutOfTheTubeAndQuadsFaceOutward) {
    const auto c = corners(25, 20);
    for (std::size_t q = 0; q < c.size(); q += 4) {
        Vec3 newell{0, 0, 0};
        for (int k = 0; k < 4; ++k) {
            const Vec3 a = c[q + k].p.position, b = c[q + (k + 1) % 4].p.position, n = c[q + k].p.normal;
            newell = {newell.x + a.y * b.z - a.z * b.y, newell.y + a.z * b.x - a.x * b.z,
                      newell.z + a.x * b.y - a.y * b.x};
            const double around = std::atan2(a.z, a.x);
            const Vec3 offset{a.x - 2.0 * std::cos(around), a.y, a.z - 2.0 * std::sin(around)};
            EXPECT_NEAR(dot(n, n), 1.0, 1e-12);
            EXPECT_NEAR(dot(offset, n), 0.5, 1e-12);
            EXPECT_NEAR(dot(offset, offset), 0.25, 1e-12);
        }
        EXPECT_GT(dot(newell, c[q].p.normal), 0.0) << "quad " << q / 4 << " faces inward";
    }
}

}  // namespace
