// Vector and matrix helpers, transform builders, the placement frame and boxes.
#include "geometry/transform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace quorva {
namespace {

void expectNear(const Vec3& a, const Vec3& b, double tol = 1e-12) {
    EXPECT_NEAR(a.x, b.x, tol) << a << " vs " << b;
    EXPECT_NEAR(a.y, b.y, tol) << a << " vs " << b;
    EXPECT_NEAR(a.z, b.z, tol) << a << " vs " << b;
}

void expectIdentity(const Matrix4& m, double tol) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(m(r, c), r == c ? 1.0 : 0.0, tol) << m;
}

TEST(Normalize, ReturnsFormerLengthAndTurnsTinyVectorsIntoX) {
    Vec3 v{3, 0, 4};
    EXPECT_DOUBLE_EQ(normalize(v), 5.0);
    expectNear(v, {0.6, 0, 0.8});

    Vec3 zero{0, 0, 0};
    EXPECT_EQ(normalize(zero), 1.0);
    EXPECT_EQ(zero, Vec3(1, 0, 0));
    // Squared length just below 1e-20 counts as degenerate, just above does not.
    Vec3 tiny{0, 0.99e-10, 0};
    EXPECT_EQ(normalize(tiny), 1.0);
    EXPECT_EQ(tiny, Vec3(1, 0, 0));
    Vec3 small{0, 2e-10, 0};
    EXPECT_DOUBLE_EQ(normalize(small), 2e-10);
    expectNear(small, {0, 1, 0});
}

TEST(TransformBuilders, ScaleWithAZeroFactorInvertsToAMillion) {
    Transform t = makeScale(2, 0, 1);
    EXPECT_EQ(t.inverse(0, 0), 0.5);
    EXPECT_EQ(t.inverse(1, 1), 1000000.0);
    EXPECT_EQ(t.inverse(2, 2), 1.0);
    EXPECT_EQ(t.forward(1, 1), 0.0);
}

TEST(TransformBuilders, TranslateMovesPointsNotVectors) {
    Transform t = makeTranslate({1, 2, 3});
    expectNear(transformPoint(t.forward, {1, 1, 1}), {2, 3, 4});
    expectNear(transformVector(t.forward, {1, 1, 1}), {1, 1, 1});
    expectNear(transformPoint(t.inverse, {2, 3, 4}), {1, 1, 1});
}

TEST(TransformBuilders, RotateTurnsAboutXThenYThenZ) {
    // A quarter turn about x takes y to z (right-hand rule).
    expectNear(transformVector(makeRotate(M_PI / 2, 0, 0).forward, {0, 1, 0}), {0, 0, 1});
    expectNear(transformVector(makeRotate(0, M_PI / 2, 0).forward, {0, 0, 1}), {1, 0, 0});
    expectNear(transformVector(makeRotate(0, 0, M_PI / 2).forward, {1, 0, 0}), {0, 1, 0});
    // Order: x first, then y. y -> z (about x), then z -> x (about y). The other order leaves y alone
    // under the y turn and then takes it to z.
    expectNear(transformVector(makeRotate(M_PI / 2, M_PI / 2, 0).forward, {0, 1, 0}), {1, 0, 0});
    Transform t = makeRotate(0.3, -1.1, 2.0);
    expectIdentity(multiply(t.forward, t.inverse), 1e-14);
}

TEST(TransformBuilders, RotateAboutAxisFollowsRightHandRuleWithUnnormalisedAxis) {
    Transform t = makeRotateAboutAxis(M_PI / 2, {0, 0, 5});
    expectNear(transformVector(t.forward, {1, 0, 0}), {0, 1, 0});
    // About the diagonal a third of a turn cycles the axes x -> y -> z.
    Transform d = makeRotateAboutAxis(2 * M_PI / 3, {1, 1, 1});
    expectNear(transformVector(d.forward, {1, 0, 0}), {0, 1, 0});
    expectNear(transformVector(d.forward, {0, 1, 0}), {0, 0, 1});
    // It agrees with the Euler builder about a coordinate axis.
    Transform e = makeRotate(0, 0.7, 0), a = makeRotateAboutAxis(0.7, {0, 1, 0});
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(e.forward.m[i], a.forward.m[i], 1e-15);
}

TEST(TransformBuilders, ShearPlacesElementsAndInvertsExactly) {
    Transform one = makeShear(0.5, 0, 0, 0, 0, 0);
    EXPECT_EQ(one.forward(0, 1), 0.5);
    EXPECT_EQ(one.inverse(0, 1), -0.5);  // a lone element inverts by negation
    expectNear(transformPoint(one.forward, {1, 0, 0}), {1, 0.5, 0});

    Transform all = makeShear(0.1, 0.2, 0.3, 0.4, 0.5, 0.6);
    EXPECT_EQ(all.forward(0, 1), 0.1);
    EXPECT_EQ(all.forward(0, 2), 0.2);
    EXPECT_EQ(all.forward(1, 0), 0.3);
    EXPECT_EQ(all.forward(1, 2), 0.4);
    EXPECT_EQ(all.forward(2, 0), 0.5);
    EXPECT_EQ(all.forward(2, 1), 0.6);
    // Elements that feed each other need a true inverse, or shapes and their bounds disagree.
    expectIdentity(multiply(all.forward, all.inverse), 1e-12);
}

TEST(TransformBuilders, ComposeAppliesTheNewTransformAfter) {
    Transform t = makeScale(2, 2, 2);
    compose(t, makeTranslate({1, 0, 0}));
    expectNear(transformPoint(t.forward, {1, 1, 1}), {3, 2, 2});
    expectNear(transformPoint(t.inverse, {3, 2, 2}), {1, 1, 1});
}

TEST(Invert, RoundTripsRandomMatrices) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> value(-10, 10);
    for (int n = 0; n < 200; ++n) {
        Matrix4 m;
        for (double& e : m.m) e = value(rng);
        Matrix4 inv = invert(m);
        expectIdentity(multiply(m, inv), 1e-9);
        expectIdentity(multiply(inv, m), 1e-9);
    }
    // Affine products of the builders invert to their own inverse matrices.
    Transform t = makeRotate(0.4, 1.3, -0.2);
    compose(t, makeScale(3, 0.5, 2));
    compose(t, makeTranslate({4, -1, 7}));
    compose(t, makeShear(0.2, 0, 0, 0.1, 0, 0));
    Matrix4 inv = invert(t.forward);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(inv.m[i], t.inverse.m[i], 1e-12);
}

TEST(Invert, NeedsPivotingAndSurvivesSingularMatrices) {
    // A permutation has zeros on the diagonal: only row exchanges make it invertible.
    Matrix4 p{{0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1}};
    expectIdentity(multiply(p, invert(p)), 0);
    // Rows of very different magnitude: the implicit scaling keeps the small row accurate.
    Matrix4 s{{1e-12, 2e-12, 0, 0, 3, 1, 0, 0, 0, 0, 1e12, 0, 0, 0, 0, 1}};
    expectIdentity(multiply(s, invert(s)), 1e-9);
    // A zero row is not fatal: its pivot becomes 1e-10 and the result stays finite.
    Matrix4 z{{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
    Matrix4 zi = invert(z);
    for (double e : zi.m) EXPECT_TRUE(std::isfinite(e));
    EXPECT_EQ(zi(0, 0), 1.0);
    EXPECT_EQ(zi(2, 2), 1.0);
}

TEST(PlacementFrame, TurnsTheDirectionOntoZAndScales) {
    const Vec3 base{1, 2, 3};
    for (Vec3 dir : {Vec3{0, 0, 1}, Vec3{0, 0, -1}, Vec3{1, 0, 0}, Vec3{0, -2, 0}, Vec3{1, 2, -3}}) {
        Transform f = makePlacementFrame(dir, 2.0, 4.0, -base);
        Vec3 unit = normalized(dir);
        // Base to the origin, base + h*dir to (0, 0, 1), radial offsets shrink by r.
        expectNear(transformPoint(f.forward, base), {0, 0, 0});
        expectNear(transformPoint(f.forward, base + unit * 4.0), {0, 0, 1});
        Vec3 radial = normalized(cross(unit, std::fabs(unit.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0}));
        Vec3 q = transformPoint(f.forward, base + radial * 2.0);
        EXPECT_NEAR(q.x * q.x + q.y * q.y, 1.0, 1e-12);
        EXPECT_NEAR(q.z, 0.0, 1e-12);
        expectIdentity(multiply(f.forward, f.inverse), 1e-12);
    }
}

TEST(Spherical, LongitudeLatitudeLength) {
    Vec3 s = spherical({0, 0, 2});
    EXPECT_NEAR(s.x, M_PI / 2, 1e-15);
    EXPECT_NEAR(s.y, 0, 1e-15);
    EXPECT_NEAR(s.z, 2, 1e-15);
    // At a pole the longitude is 0 whatever x and z say.
    EXPECT_EQ(spherical({1e-12, 3, 1e-12}).x, 0.0);
    EXPECT_NEAR(spherical({1e-12, 3, 1e-12}).y, M_PI / 2, 1e-12);
    EXPECT_EQ(spherical({1e-9, 0, 0}), Vec3(0, 0, 0));
}

TEST(Boxes, TransformIntersectAndUnion) {
    Box b{{0, 0, 0}, {1, 2, 3}};
    Box r = transformBox(b, makeRotate(0, 0, M_PI / 2).forward);  // (x, y) -> (-y, x)
    expectNear(r.min, {-2, 0, 0});
    expectNear(r.size, {2, 1, 3});

    Box a{{0, 0, 0}, {2, 2, 2}}, c{{1, 1, 1}, {2, 2, 2}};
    Box i = intersectBoxes(a, c);
    EXPECT_EQ(i.min, Vec3(1, 1, 1));
    EXPECT_EQ(i.size, Vec3(1, 1, 1));
    Box u = unionBoxes(a, c);
    EXPECT_EQ(u.min, Vec3(0, 0, 0));
    EXPECT_EQ(u.size, Vec3(3, 3, 3));
    // Boxes that only touch keep a flat overlap; disjoint ones give the far-away empty box.
    EXPECT_EQ(intersectBoxes(a, Box{{2, 0, 0}, {1, 1, 1}}).size.x, 0.0);
    Box e = intersectBoxes(a, Box{{0, 5, 0}, {1, 1, 1}});
    EXPECT_EQ(e.min, Vec3(-1000000, -1000000, -1000000));
    EXPECT_EQ(e.size, Vec3(1e-8, 1e-8, 1e-8));
}

}  // namespace
}  // namespace quorva
