#include "input/BezierSmoother.h"

#include <gtest/gtest.h>

#include <cmath>

using tl::input::BezierSmoother;

TEST(BezierSmoother, BasisIsBernsteinOfDegreeNine)
{
    for (float t : {0.0f, 0.25f, 0.5f, 0.8f, 0.99f}) {
        float w[BezierSmoother::kPoints];
        BezierSmoother::basis(t, w);
        double sum = 0;
        for (int k = 0; k < BezierSmoother::kPoints; ++k) {
            const double binom = std::tgamma(10.0) / (std::tgamma(k + 1.0) * std::tgamma(10.0 - k));
            const double expected = binom * std::pow(t, k) * std::pow(1.0 - t, 9 - k);
            EXPECT_NEAR(w[k], expected, 1e-5) << "t " << t << " k " << k;
            sum += w[k];
        }
        EXPECT_NEAR(sum, 1.0, 1e-5);
    }
    float w[BezierSmoother::kPoints];
    BezierSmoother::basis(0.8f, w);
    EXPECT_NEAR(w[9], 0.134, 0.001);
    EXPECT_NEAR(w[8], 0.302, 0.001);
    EXPECT_NEAR(w[7], 0.302, 0.001);
}

TEST(BezierSmoother, FirstSampleFillsTheHistoryRepeatsAreIgnored)
{
    BezierSmoother s;
    EXPECT_FALSE(s.initialised());
    EXPECT_TRUE(s.addSample(100, 200, 1));
    for (int k = 0; k < BezierSmoother::kPoints; ++k) {
        EXPECT_EQ(s.history(k).x, 100);
        EXPECT_EQ(s.history(k).y, 200);
    }
    const BezierSmoother::Pos first = s.evaluate(0.8);
    EXPECT_NEAR(first.x, 100, 1);
    EXPECT_NEAR(first.y, 200, 1);

    EXPECT_TRUE(s.addSample(200, 200, 1));
    const BezierSmoother::Pos moved = s.evaluate(0.8);
    EXPECT_FALSE(s.addSample(200, 200, 1));
    EXPECT_EQ(s.evaluate(0.8).x, moved.x);
    // 0.8^9 of a 100-unit step.
    EXPECT_NEAR(moved.x, 113, 1);

    s.clear();
    EXPECT_FALSE(s.initialised());
    EXPECT_TRUE(s.addSample(200, 200, 1));  // after a clear the same input counts again
    EXPECT_EQ(s.history(0).x, 200);
}

TEST(BezierSmoother, HistoryModesOnAStepOfKnownOutput)
{
    // A pen still at 0, then at 1000, then at 2000. At t = 0.8 the weights of
    // the three newest points are B(9,9) = 0.8^9 = 0.134217728 (point 9) and
    // B(8,9) = 9 * 0.8^8 * 0.2 = 0.301989888 (point 8); the older points are 0.
    //   after 1000: 1000 * 0.134217728 = 134.2 -> 134 in both modes.
    //   after 2000, mode 1 (point 8 = the previous input, 1000):
    //     1000 * 0.301989888 + 2000 * 0.134217728 = 570.4 -> 570.
    //   after 2000, mode 2 (point 8 = the previous output, 134):
    //     134 * 0.301989888 + 2000 * 0.134217728 = 308.9 -> 308.
    BezierSmoother plain;
    BezierSmoother fed;
    for (BezierSmoother *s : {&plain, &fed}) {
        s->addSample(0, 0, 1);
        s->addSample(1000, 0, 1);
        EXPECT_EQ(s->evaluate(0.8).x, 134);
    }
    plain.addSample(2000, 0, 1);
    fed.addSample(2000, 0, 2);
    EXPECT_EQ(plain.evaluate(0.8).x, 570);
    EXPECT_EQ(fed.evaluate(0.8).x, 308);
    EXPECT_EQ(plain.evaluate(0.8).y, 0);
}
