#include "common/predictor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "tests/common/kernel_levels.h"
#include "tests/support/float_bits.h"

namespace {

AdaptivePredictorPtr make_default(int32_t order = 4) {
    return predictor_create(order, 0.01f, 0.001f);
}

// A deterministic signal with some noise in it, so the predictor cannot learn it perfectly.
std::vector<float> test_signal(size_t n) {
    std::vector<float> out(n);
    uint32_t noise = 12345;
    for (size_t i = 0; i < n; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double r = static_cast<double>(noise >> 8) / 16777216.0 - 0.5;
        out[i] = static_cast<float>(0.4 * std::sin(0.05 * static_cast<double>(i)) + 0.1 * r);
    }
    return out;
}

// Audio-like input with the awkward parts a recording has: loud and quiet noise, silence (zeros
// of both signs), a constant stretch, clipped full scale and single spikes.
std::vector<float> rough_signal(size_t n, uint32_t seed) {
    std::mt19937 draw(seed);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<float> out(n);
    for (size_t i = 0; i < n; ++i) {
        const size_t part = (i / 700) % 6;
        float v = unit(draw);
        switch (part) {
        case 0:
            v *= 0.5f;
            break;
        case 1:
            v *= 0.001f;
            break;
        case 2:
            v = (i % 3 == 0) ? -0.0f : 0.0f;
            break;
        case 3:
            v = 0.25f;
            break;
        case 4:
            v = v > 0.0f ? 1.0f : -1.0f;
            break;
        default:
            v = (i % 97 == 0) ? 0.9f : v * 1e-5f;
            break;
        }
        out[i] = v;
    }
    return out;
}

// The plain envelope: one predictor_update per sample, the level carried in double within
// the block and stored as float at its end.
std::vector<float> plain_envelope(AdaptivePredictor& p, std::span<const float> input) {
    std::vector<float> out;
    double level = static_cast<double>(p.level);
    for (const float d : input) {
        const double e = predictor_update(p, d);
        double diff = std::fabs(e) - level;
        if (diff < 0.0) {
            diff *= static_cast<double>(0.1f);
        }
        level += diff;
        out.push_back(static_cast<float>(level));
    }
    p.level = static_cast<float>(level);
    return out;
}

// The plain whitened form: the error divided by the level (set to |e| when |e| reaches it,
// else moved a tenth of the way), or by the floor when the level is not above it.
std::vector<float> plain_whiten(AdaptivePredictor& p, double floor, std::span<const float> input) {
    std::vector<float> out;
    double level = static_cast<double>(p.level);
    for (const float d : input) {
        const double e = predictor_update(p, d);
        const double magnitude = std::fabs(e);
        level = magnitude >= level ? magnitude
                                   : level + static_cast<double>(0.1f) * (magnitude - level);
        out.push_back(static_cast<float>(e * (1.0 / (level > floor ? level : floor))));
    }
    p.level = static_cast<float>(level);
    return out;
}

// The two output forms, plain and fast, alone and in pairs, behind one interface.
struct Form {
    const char* name;
    std::vector<float> (*plain)(AdaptivePredictor&, std::span<const float>);
    void (*alone)(AdaptivePredictor&, std::span<const float>, std::span<float>, SimdLevel);
    void (*pair)(AdaptivePredictor&, AdaptivePredictor&, std::span<const float>,
                 std::span<const float>, std::span<float>, std::span<float>, SimdLevel);
};

constexpr double kFloor = 0.0017782794100389228; // 10^(-55/20)

const Form kForms[] = {
    {"envelope", plain_envelope,
     [](AdaptivePredictor& p, std::span<const float> in, std::span<float> out, SimdLevel level) {
         predictor_envelope(p, in, out, level);
     },
     [](AdaptivePredictor& a, AdaptivePredictor& b, std::span<const float> ia,
        std::span<const float> ib, std::span<float> oa, std::span<float> ob,
        SimdLevel level) { predictor_envelope_pair(a, b, ia, ib, oa, ob, level); }},
    {"whitened",
     [](AdaptivePredictor& p, std::span<const float> in) { return plain_whiten(p, kFloor, in); },
     [](AdaptivePredictor& p, std::span<const float> in, std::span<float> out, SimdLevel level) {
         predictor_whiten(p, kFloor, in, out, level);
     },
     [](AdaptivePredictor& a, AdaptivePredictor& b, std::span<const float> ia,
        std::span<const float> ib, std::span<float> oa, std::span<float> ob,
        SimdLevel level) { predictor_whiten_pair(a, b, kFloor, ia, ib, oa, ob, level); }},
};

// Everything a predictor holds, as bits, so that even the sign of a zero counts.
std::vector<uint32_t> state_bits(const AdaptivePredictor& p) {
    std::vector<uint32_t> out = fixture::float_bits(p.storage);
    out.push_back(std::bit_cast<uint32_t>(p.level));
    return out;
}

void copy_state(const AdaptivePredictor& from, AdaptivePredictor& to) {
    to.storage = from.storage;
    to.level = from.level;
    to.r = from.r;
    to.q = from.q;
}

// The fast form run alone on one predictor and beside another in a pair: their outputs and
// states compared, bit for bit, with the plain runs' (want_*, plain_*).
testing::AssertionResult same_as_plain(const Form& form, SimdLevel level, AdaptivePredictor& alone,
                                       AdaptivePredictor& pair_a, AdaptivePredictor& pair_b,
                                       std::span<const float> in_a, std::span<const float> in_b,
                                       const std::vector<uint32_t>& want_a,
                                       const std::vector<uint32_t>& want_b,
                                       const AdaptivePredictor& plain_a,
                                       const AdaptivePredictor& plain_b) {
    std::vector<float> got(in_a.size()), got_a(in_a.size()), got_b(in_b.size());
    form.alone(alone, in_a, got, level);
    form.pair(pair_a, pair_b, in_a, in_b, got_a, got_b, level);
    const struct {
        const char* what;
        bool same;
    } checks[] = {
        {"output alone", fixture::float_bits(got) == want_a},
        {"first output of the pair", fixture::float_bits(got_a) == want_a},
        {"second output of the pair", fixture::float_bits(got_b) == want_b},
        {"state alone", state_bits(alone) == state_bits(plain_a)},
        {"first state of the pair", state_bits(pair_a) == state_bits(plain_a)},
        {"second state of the pair", state_bits(pair_b) == state_bits(plain_b)},
    };
    for (const auto& check : checks) {
        if (!check.same) {
            return testing::AssertionFailure() << check.what << " differs";
        }
    }
    return testing::AssertionSuccess();
}

} // namespace

TEST(Predictor, RefusesBadOrder) {
    EXPECT_FALSE(predictor_create(0, 0.01f, 0.001f));
    EXPECT_FALSE(predictor_create(-3, 0.01f, 0.001f));
    EXPECT_TRUE(predictor_create(1, 0.01f, 0.001f));
}

TEST(Predictor, FirstSampleFromZeroWindow) {
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

TEST(Predictor, SilenceStaysSilentAndEnvelopeDecays) {
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

TEST(Predictor, ConstantInputIsLearned) {
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

TEST(Predictor, LearnsAutoregressiveProcess) {
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

TEST(Predictor, BlockSizeDoesNotChangeTheState) {
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

// The kernels of orders 2 and 4, alone and two side by side, on every level, in both output
// forms, give the plain update's output and leave the plain update's state, bit for bit, block
// after block (blocks of one sample and empty blocks included). Order 3 takes the plain path.
class PredictorLevel : public KernelLevel {};
VEKMRK_ON_EVERY_KERNEL_LEVEL(PredictorLevel);

TEST_P(PredictorLevel, FastFormsMatchThePlainUpdateBitForBit) {
    const std::vector<float> left = rough_signal(12000, 1);
    const std::vector<float> right = rough_signal(12000, 2);
    const size_t blocks[] = {1, 0, 4410, 1, 2, 999, 0, 6587};
    for (const Form& form : kForms) {
        for (const int32_t order : {2, 3, 4}) {
            SCOPED_TRACE(testing::Message() << form.name << ", order " << order);
            auto plain_left = make_default(order);
            auto plain_right = make_default(order);
            auto alone = make_default(order);
            auto pair_left = make_default(order);
            auto pair_right = make_default(order);
            size_t at = 0;
            for (const size_t n : blocks) {
                const std::span<const float> in_left = std::span(left).subspan(at, n);
                const std::span<const float> in_right = std::span(right).subspan(at, n);
                at += n;
                const std::vector<uint32_t> want_left =
                    fixture::float_bits(form.plain(*plain_left, in_left));
                const std::vector<uint32_t> want_right =
                    fixture::float_bits(form.plain(*plain_right, in_right));
                EXPECT_TRUE(same_as_plain(form, level(), *alone, *pair_left, *pair_right, in_left,
                                          in_right, want_left, want_right, *plain_left,
                                          *plain_right));
            }
        }
    }
}

// Random states make the double sums round and cancel in every way, so that any change of
// order or of rounding in the fast versions shows in the bits (on realistic signals such a
// change hides behind the single-precision roundings): one value in ten spans sixty powers of
// two, the others are -3/4 ... 3/4 in quarters times 2^-30, 1 or 2^30, whose sums often lose
// the small terms and then cancel exactly.
TEST_P(PredictorLevel, FastVersionsKeepEveryRoundingOnExtremeStates) {
    std::mt19937 draw(99);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-30, 30);
    std::uniform_int_distribution<int> quarters(-3, 3);
    std::uniform_int_distribution<int> coarse(-1, 1);
    std::bernoulli_distribution pick(0.1);
    auto wild = [&] {
        return pick(draw)
                   ? std::ldexp(unit(draw), exponent(draw))
                   : std::ldexp(static_cast<float>(quarters(draw)) / 4.0f, 30 * coarse(draw));
    };
    // Zeros of both signs too, and now and then r = -0.0, where 0.0 + x and x differ.
    std::bernoulli_distribution negative_zero(0.05);
    auto signed_wild = [&] { return negative_zero(draw) ? -0.0f : wild(); };
    auto randomise = [&](AdaptivePredictor& p) {
        for (float& v : p.storage) {
            v = signed_wild();
        }
        p.level = std::fabs(wild());
        p.r = signed_wild();
        p.q = wild();
    };
    for (const Form& form : kForms) {
        for (const int32_t order : {2, 4}) {
            for (int trial = 0; trial < 5000; ++trial) {
                auto start_a = make_default(order);
                auto start_b = make_default(order);
                randomise(*start_a);
                randomise(*start_b);
                std::vector<float> in_a(3), in_b(3);
                for (size_t i = 0; i < 3; ++i) {
                    in_a[i] = signed_wild();
                    in_b[i] = signed_wild();
                }
                auto ref_a = make_default(order);
                auto ref_b = make_default(order);
                copy_state(*start_a, *ref_a);
                copy_state(*start_b, *ref_b);
                const std::vector<uint32_t> want_a = fixture::float_bits(form.plain(*ref_a, in_a));
                const std::vector<uint32_t> want_b = fixture::float_bits(form.plain(*ref_b, in_b));
                SCOPED_TRACE(testing::Message()
                             << form.name << ", order " << order << ", trial " << trial);
                auto alone = make_default(order);
                auto pair_a = make_default(order);
                auto pair_b = make_default(order);
                copy_state(*start_a, *alone);
                copy_state(*start_a, *pair_a);
                copy_state(*start_b, *pair_b);
                ASSERT_TRUE(same_as_plain(form, level(), *alone, *pair_a, *pair_b, in_a, in_b,
                                          want_a, want_b, *ref_a, *ref_b));
            }
        }
    }
}

// With r = -0.0 a denominator of zeros keeps the sign its terms give it: here the row of P x
// whose products are all -0.0 makes it +0.0 (0.0 + -0.0), the gain +inf and the weights +inf
// (one sample: a second would turn everything into NaN); every kernel agrees with the plain
// update.
TEST_P(PredictorLevel, NegativeZeroNoiseKeepsTheSignOfAZeroDenominator) {
    auto plain = make_default(4);
    plain->r = -0.0f;
    const float rows[16] = {1, -1, 1, 1, -1, -0.0f, -1, -1, 1, -1, 1, 1, 1, -1, 1, 1};
    std::copy(std::begin(rows), std::end(rows), plain->p);
    plain->x[1] = 1.0f;
    auto fast = make_default(4);
    auto pair_a = make_default(4);
    auto pair_b = make_default(4);
    for (AdaptivePredictor* p : {fast.get(), pair_a.get(), pair_b.get()})
        copy_state(*plain, *p);
    const float in[1] = {0.5f};
    const std::vector<uint32_t> want = fixture::float_bits(plain_envelope(*plain, in));
    EXPECT_TRUE(same_as_plain(kForms[0], level(), *fast, *pair_a, *pair_b, in, in, want, want,
                              *plain, *plain));
}

// Two predictors of different orders, or inputs of different lengths, are run one after the
// other with the same results.
TEST(Predictor, PairOfUnequalPredictorsRunsOneAfterTheOther) {
    const std::vector<float> a = rough_signal(3000, 3);
    const std::vector<float> b = rough_signal(2000, 4);
    auto plain_a = make_default(4);
    auto plain_b = make_default(2);
    const std::vector<uint32_t> want_a = fixture::float_bits(plain_envelope(*plain_a, a));
    const std::vector<uint32_t> want_b = fixture::float_bits(plain_envelope(*plain_b, b));
    auto pa = make_default(4);
    auto pb = make_default(2);
    std::vector<float> out_a(a.size()), out_b(b.size());
    predictor_envelope_pair(*pa, *pb, a, b, out_a, out_b);
    EXPECT_EQ(fixture::float_bits(out_a), want_a);
    EXPECT_EQ(fixture::float_bits(out_b), want_b);
}
