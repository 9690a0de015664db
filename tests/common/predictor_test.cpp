#include "common/predictor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

AdaptivePredictorPtr make_default(int32_t order = 4) { return predictor_create(order, 0.01f, 0.001f); }

// A deterministic signal with some noise in it, so the predictor cannot learn it perfectly.
std::vector<float> test_signal(size_t n)
{
    std::vector<float> out(n);
    uint32_t noise = 12345;
    for (size_t i = 0; i < n; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double r = static_cast<double>(noise >> 8) / 16777216.0 - 0.5;
        out[i] = static_cast<float>(0.4 * std::sin(0.05 * static_cast<double>(i)) + 0.1 * r);
    }
    return out;
}

}  // namespace

TEST(Predictor, RefusesBadOrder)
{
    EXPECT_FALSE(predictor_create(0, 0.01f, 0.001f));
    EXPECT_FALSE(predictor_create(-3, 0.01f, 0.001f));
    EXPECT_TRUE(predictor_create(1, 0.01f, 0.001f));
}

TEST(Predictor, FirstSampleFromZeroWindow)
{
    // The window is zero: k = 0, den = r, e = d, weights stay 0, the diagonal grows by q.
    auto p = make_default();
    ASSERT_TRUE(p);
    EXPECT_EQ(predictor_update(*p, 0.5f), 0.5);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(p->k[i], 0.0f);
        EXPECT_EQ(p->w[i], 0.0f);
        for (int m = 0; m < 4; ++m) {
            EXPECT_EQ(p->p[i * 4 + m], i == m ? 0.002f : 0.0f) << i << "," << m;
        }
    }
    EXPECT_EQ(p->x[3], 0.5f);
    EXPECT_EQ(p->x[0], 0.0f);

    // The first envelope value is |d|.
    auto q = make_default();
    const float in[] = {-0.25f};
    float out[1] = {};
    predictor_envelope(*q, in, out);
    EXPECT_EQ(out[0], 0.25f);
    EXPECT_EQ(q->level, 0.25f);
}

TEST(Predictor, SilenceStaysSilentAndEnvelopeDecays)
{
    // Silence: every error is 0 and the diagonal grows by q per sample.
    auto p = make_default();
    std::vector<float> zeros(100, 0.0f), env(100);
    predictor_envelope(*p, zeros, env);
    for (float v : env) {
        EXPECT_EQ(v, 0.0f);
    }
    EXPECT_NEAR(p->p[0], 101 * 0.001, 1e-6);
    EXPECT_NEAR(p->p[3 * 4 + 3], 101 * 0.001, 1e-6);

    // After one impulse the weights are still 0, so the error is 0 again and the envelope falls
    // by a factor 0.9 per sample.
    auto q = make_default();
    std::vector<float> impulse(40, 0.0f);
    impulse[0] = 0.8f;
    std::vector<float> out(impulse.size());
    predictor_envelope(*q, impulse, out);
    EXPECT_EQ(out[0], 0.8f);
    for (size_t i = 1; i < out.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(out[i] / out[i - 1], 0.9, 1e-6);
    }
}

TEST(Predictor, ConstantInputIsLearned)
{
    auto p = make_default();
    std::vector<float> in(4000, 0.5f), env(in.size());
    predictor_envelope(*p, in, env);
    EXPECT_EQ(env[0], 0.5f);
    EXPECT_LT(env.back(), 0.005f);
    double predicted = 0.0;
    for (int m = 0; m < 4; ++m) {
        predicted += static_cast<double>(p->w[m]) * 0.5;
    }
    EXPECT_NEAR(predicted, 0.5, 0.01);
}

TEST(Predictor, LearnsAutoregressiveProcess)
{
    // x[n] = 1.6 x[n-1] - 0.8 x[n-2] + small noise: an order-2 predictor's weights (oldest
    // first) approach -0.8 and 1.6.
    auto p = make_default(2);
    ASSERT_TRUE(p);
    double x1 = 0.0, x2 = 0.0;
    uint32_t noise = 99;
    for (int i = 0; i < 20000; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double r = static_cast<double>(noise >> 8) / 16777216.0 - 0.5;
        const double x = 1.6 * x1 - 0.8 * x2 + 0.05 * r;
        predictor_update(*p, static_cast<float>(x));
        x2 = x1;
        x1 = x;
    }
    EXPECT_NEAR(p->w[0], -0.8, 0.05);
    EXPECT_NEAR(p->w[1], 1.6, 0.05);
}

TEST(Predictor, BlockSizeDoesNotChangeTheState)
{
    const std::vector<float> in = test_signal(3000);
    auto whole = make_default();
    std::vector<float> whole_env(in.size());
    predictor_envelope(*whole, in, whole_env);

    for (size_t block : {size_t{1}, size_t{3}, size_t{7}, size_t{1000}}) {
        SCOPED_TRACE(block);
        auto cut = make_default();
        std::vector<float> env(in.size());
        for (size_t at = 0; at < in.size(); at += block) {
            const size_t n = std::min(block, in.size() - at);
            predictor_envelope(*cut, std::span(in).subspan(at, n), std::span(env).subspan(at, n));
        }
        // Weights, covariance and window do not depend on the level; the level differs only by
        // its rounding to float at block ends.
        EXPECT_EQ(cut->storage, whole->storage);
        for (size_t i = 0; i < in.size(); ++i) {
            ASSERT_NEAR(env[i], whole_env[i], 1e-6 * (1.0 + std::fabs(whole_env[i]))) << i;
        }
    }
}
