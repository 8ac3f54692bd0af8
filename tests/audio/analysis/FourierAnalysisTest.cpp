#include "audio/analysis/FourierAnalysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace tunewick {
namespace {

using Complex = std::complex<long double>;

// The transform's kernel written out per input and output index. A radix-2 decimation-in-time
// transform turns input n's contribution to output k by e^{+i c (k mod 2^(s-1)) / 2^s} (with a
// sign flip when bit s-1 of k is set) at every stage s whose split bit, bit (log2N - s) of n,
// is set. With c = 2*pi that is exactly e^{+2*pi*i*n*k/N}; with the transform's six-decimal
// constant it is what the butterflies compute, up to the rounding of the twiddle recurrence.
// Evaluated in long double, independently of the butterfly order.
std::vector<long double> referenceMagnitudes(const std::vector<double>& x, int log2n, long double c) {
    const std::size_t n = x.size();
    std::vector<long double> out(n);
    std::vector<Complex> factorOfBit(static_cast<std::size_t>(log2n));  // indexed by bit of n
    std::vector<Complex> kernel(n);
    for (std::size_t k = 0; k < n; ++k) {
        for (int s = 1; s <= log2n; ++s) {
            const auto half = std::size_t{1} << (s - 1);
            const long double angle = c * static_cast<long double>(k % half) / static_cast<long double>(2 * half);
            Complex f(std::cos(angle), std::sin(angle));
            if ((k >> (s - 1)) & 1U) f = -f;
            factorOfBit[static_cast<std::size_t>(log2n - s)] = f;
        }
        // kernel[idx] = product of the factors of idx's set bits, built from idx without its top bit.
        kernel[0] = Complex(1.0L, 0.0L);
        for (std::size_t idx = 1; idx < n; ++idx) {
            int top = 0;
            while ((idx >> (top + 1)) != 0) ++top;
            kernel[idx] = kernel[idx & ~(std::size_t{1} << top)] * factorOfBit[static_cast<std::size_t>(top)];
        }
        Complex sum(0.0L, 0.0L);
        for (std::size_t i = 0; i < n; ++i) sum += static_cast<long double>(x[i]) * kernel[i];
        out[k] = std::abs(sum);
    }
    return out;
}

std::vector<double> transform(SpectrumSetup& setup, const std::vector<double>& x) {
    std::vector<double> out(x.size(), -1.0);
    computeMagnitudeSpectrum(setup, x, out);
    return out;
}

// Largest difference relative to the largest reference magnitude.
double relativeError(const std::vector<double>& got, const std::vector<long double>& want) {
    long double scale = 0.0L;
    long double worst = 0.0L;
    for (std::size_t k = 0; k < want.size(); ++k) {
        scale = std::max(scale, want[k]);
        worst = std::max(worst, std::fabs(static_cast<long double>(got[k]) - want[k]));
    }
    return static_cast<double>(worst / scale);
}

std::vector<double> randomInput(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> x(n);
    for (auto& v : x) v = dist(rng);
    return x;
}

std::vector<double> sineInput(std::size_t n, double bin, double amplitude) {
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = amplitude * std::sin(2.0 * std::numbers::pi * bin * static_cast<double>(i) / static_cast<double>(n));
    }
    return x;
}

struct TransformCase {
    int log2n;
    bool random;
};

void PrintTo(const TransformCase& c, std::ostream* os) {
    *os << "N = " << (1 << c.log2n) << (c.random ? ", random" : ", sine");
}

class TransformAgainstDirectSum : public ::testing::TestWithParam<TransformCase> {};

TEST_P(TransformAgainstDirectSum, MatchesTheKernelWithTheStageConstant) {
    const auto [log2n, random] = GetParam();
    const std::size_t n = std::size_t{1} << log2n;
    SpectrumSetup setup(static_cast<std::int32_t>(n), log2n, 50.0, 2048);
    const auto x = random ? randomInput(n, 1234U + static_cast<unsigned>(log2n)) : sineInput(n, 100.25, 0.75);
    const auto got = transform(setup, x);

    // Exact to the rounding of the twiddle recurrence when the kernel carries 6.283185 ...
    EXPECT_LT(relativeError(got, referenceMagnitudes(x, log2n, 6.283185L)), 1e-9);
    // ... and the ordinary Fourier transform up to what that constant moves (~1e-7).
    EXPECT_LT(relativeError(got, referenceMagnitudes(x, log2n, 2.0L * std::numbers::pi_v<long double>)), 2e-6);
}

INSTANTIATE_TEST_SUITE_P(Sizes, TransformAgainstDirectSum,
                         ::testing::Values(TransformCase{10, true}, TransformCase{10, false},
                                           TransformCase{11, true}, TransformCase{11, false}),
                         [](const ::testing::TestParamInfo<TransformCase>& info) {
                             return "N" + std::to_string(1 << info.param.log2n) +
                                    (info.param.random ? "_random" : "_sine");
                         });

TEST(Transform, SineOnABinGivesHalfNTimesAmplitudeAtTheBinAndItsMirror) {
    SpectrumSetup setup(2048, 11, 50.0, 2048);
    const auto out = transform(setup, sineInput(2048, 82.0, 0.5));
    EXPECT_NEAR(out[82], 0.5 * 1024.0, 1e-3);
    EXPECT_NEAR(out[2048 - 82], 0.5 * 1024.0, 1e-3);
    EXPECT_EQ(findPeak(1024, out), 82);
}

TEST(Transform, ImpulseGivesOneEverywhereAndLeavesTheInputAlone) {
    SpectrumSetup setup(1024, 10, 50.0, 2048);
    std::vector<double> x(1024, 0.0);
    x[0] = 1.0;
    const auto copy = x;
    const auto out = transform(setup, x);
    for (std::size_t k = 0; k < out.size(); ++k) ASSERT_DOUBLE_EQ(out[k], 1.0) << "bin " << k;
    EXPECT_EQ(x, copy);
}

TEST(Transform, ConstantInputGivesAllEnergyInBinZeroAndNothingAfterTheLowCut) {
    for (const auto& [n, log2n] : {std::pair{1024, 10}, std::pair{2048, 11}}) {
        SpectrumSetup setup(n, log2n, 50.0, 2048);
        auto out = transform(setup, std::vector<double>(static_cast<std::size_t>(n), -0.375));
        EXPECT_NEAR(out[0], n * 0.375, 1e-9);
        for (int k = 1; k < n; ++k) ASSERT_NEAR(out[static_cast<std::size_t>(k)], 0.0, 1e-9) << "bin " << k;
        applyLowCut(setup, out);
        for (int k = 0; k < n / 2; ++k) ASSERT_NEAR(out[static_cast<std::size_t>(k)], 0.0, 1e-9) << "bin " << k;
    }
}

TEST(Transform, BitReversalTableIsFilledOnFirstUseAndReused) {
    SpectrumSetup setup(1024, 10, 50.0, 2048);
    EXPECT_TRUE(setup.bitReverseDirty);
    const auto x = randomInput(1024, 7);
    const auto first = transform(setup, x);
    EXPECT_FALSE(setup.bitReverseDirty);
    EXPECT_EQ(setup.bitReverse[1], 512);
    EXPECT_EQ(setup.bitReverse[3], 768);
    EXPECT_EQ(setup.bitReverse[1023], 1023);
    auto sorted = setup.bitReverse;
    std::sort(sorted.begin(), sorted.end());
    for (std::int32_t i = 0; i < 1024; ++i) ASSERT_EQ(sorted[static_cast<std::size_t>(i)], i);
    // The scratch from the first call must not leak into the second.
    EXPECT_EQ(transform(setup, x), first);
}

TEST(Transform, RejectsSetupsAndSpansThatDoNotFit) {
    EXPECT_THROW(SpectrumSetup(1000, 10, 50.0, 2048), std::invalid_argument);
    EXPECT_THROW(SpectrumSetup(1024, 10, 50.0, 0), std::invalid_argument);
    SpectrumSetup setup(1024, 10, 50.0, 2048);
    std::vector<double> shortInput(1023, 0.0);
    std::vector<double> out(1024);
    EXPECT_THROW(computeMagnitudeSpectrum(setup, shortInput, out), std::invalid_argument);
    EXPECT_THROW(applyHannWindow(setup, shortInput), std::invalid_argument);
    EXPECT_THROW(findHarmonicProductPeak(std::vector<double>(511, 1.0), 2), std::invalid_argument);
}

TEST(HannWindow, ZeroAtBothEndsSymmetricAndSummingToHalfOfNMinusOne) {
    SpectrumSetup setup(1024, 10, 50.0, 2048);
    std::vector<double> w(1024, 1.0);
    applyHannWindow(setup, w);
    EXPECT_EQ(w[0], 0.0);
    EXPECT_NEAR(w[1023], 0.0, 1e-15);
    double sum = 0.0;
    for (std::size_t i = 0; i < w.size(); ++i) {
        ASSERT_NEAR(w[i], w[1023 - i], 1e-12) << "index " << i;
        sum += w[i];
    }
    EXPECT_NEAR(sum, 1023.0 / 2.0, 1e-9);
    // The peak of a symmetric window of even length lies between the two middle samples.
    EXPECT_GT(w[511], 0.99999);
    EXPECT_LT(w[511], 1.0);
    // Weights scale the samples, so a sample of -2 gets twice the weight, negated.
    std::vector<double> x(1024, -2.0);
    applyHannWindow(setup, x);
    EXPECT_DOUBLE_EQ(x[300], -2.0 * w[300]);
}

TEST(LowCut, ClearsUpToTheCutoffAndLeavesTheRestForBothSetups) {
    struct Case {
        std::int32_t n, log2n;
        std::size_t firstKept;
    };
    for (const Case c : {Case{1024, 10, 26}, Case{2048, 11, 51}}) {
        SpectrumSetup setup(c.n, c.log2n, 50.0, 2048);
        std::vector<double> s(static_cast<std::size_t>(c.n), 1.0);
        applyLowCut(setup, s);
        for (std::size_t k = 0; k < s.size(); ++k) {
            ASSERT_EQ(s[k], k < c.firstKept ? 0.0 : 1.0) << "n " << c.n << " bin " << k;
        }
    }
}

TEST(LowCut, WeightsTheFirstBinAboveACutoffInsideABin) {
    // 1024 bins at 2 Hz: a cutoff of 51 Hz gives edge 25 and weights bin 26 (52 Hz) by 1/2.
    SpectrumSetup setup(1024, 10, 51.0, 2048);
    std::vector<double> s(1024, 4.0);
    applyLowCut(setup, s);
    EXPECT_EQ(s[25], 0.0);
    EXPECT_DOUBLE_EQ(s[26], 2.0);
    EXPECT_EQ(s[27], 4.0);
    // A spectrum shorter than edge + 2 is cut as far as it goes, never past its end.
    std::vector<double> shortSpectrum(20, 4.0);
    applyLowCut(setup, shortSpectrum);
    EXPECT_EQ(std::count(shortSpectrum.begin(), shortSpectrum.end(), 0.0), 20);
}

TEST(PeakFinders, TiesGoLowAndEmptyRangesGiveMinusOne) {
    const std::vector<double> v{3.0, 7.0, 7.0, 1.0};
    EXPECT_EQ(findPeak(4, v), 1);
    EXPECT_EQ(findPeak(4, std::vector<double>(4, 0.0)), 0);
    EXPECT_EQ(findPeak(0, v), -1);
    EXPECT_EQ(findPeak(-3, v), -1);
    EXPECT_EQ(findPeak(3, std::vector<double>{-2e6, -1e6, -3e6}), -1);  // nothing above the floor
    EXPECT_EQ(findPeak(3, std::vector<double>{-2e6, -999999.0, -3e6}), 1);

    const std::vector<double> ramp{0, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(findPeakInRange(5, 4, ramp), -1);
    EXPECT_EQ(findPeakInRange(4, 4, ramp), 4);
    EXPECT_EQ(findPeakInRange(2, 5, ramp), 5);
    EXPECT_EQ(findPeakInRange(2, 5, std::vector<double>{9, 9, 1, 8, 8, 0, 9, 9}), 3);
    // Indices past the end are never read.
    EXPECT_EQ(findPeakInRange(6, 100, ramp), 7);
    EXPECT_EQ(findPeak(100, v), 1);
}

TEST(HarmonicProduct, FindsTheFundamentalWhoseHarmonicsAreStrong) {
    EXPECT_EQ(findHarmonicProductPeak(std::vector<double>(1024, 1.0), 2), 0);

    std::vector<double> s(1024, 0.0);
    s[100] = 10.0;
    s[200] = 10.0;
    EXPECT_EQ(findHarmonicProductPeak(s, 2), 100);
    EXPECT_EQ(findHarmonicProductPeak(s, 1), 100);

    // A louder single bin wins the plain peak but loses once harmonics count.
    std::vector<double> t(512, 0.1);
    t[300] = 50.0;
    t[60] = 8.0;
    t[120] = 8.0;
    t[180] = 8.0;
    EXPECT_EQ(findHarmonicProductPeak(t, 1), 300);
    EXPECT_EQ(findHarmonicProductPeak(t, 3), 60);
    // Bin 400 is the 2nd harmonic of 200 and the 5th of 80; past bin 511 a harmonic counts
    // as 0, so with R = 5 only k <= 102 have products, and 200 no longer does.
    std::vector<double> u(512, 1.0);
    u[400] = 1000.0;
    EXPECT_EQ(findHarmonicProductPeak(u, 2), 200);
    EXPECT_EQ(findHarmonicProductPeak(u, 5), 80);
}

}  // namespace
}  // namespace tunewick
