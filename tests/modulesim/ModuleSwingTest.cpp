// The module on a turntable, with a compass deviation and a tilt error: what it reads at a
// given moment, and the options that set it up.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "Module.h"
#include "Options.h"

namespace {

double Wrapped(double d) {
    d = std::fmod(d, 360.0);
    return d > 180.0 ? d - 360.0 : d <= -180.0 ? d + 360.0 : d;
}

TEST(ModuleSwing, TurntableStopsDeviationNoiseAndTiltError) {
    const modulesim::Deviation deviation = {1.5, -3.0, 2.0, 0.8, -0.6};
    modulesim::ModuleBehaviour behaviour;
    behaviour.turntable = modulesim::Turntable{45.0, 6.0, 0.0};
    behaviour.deviation = deviation;
    const modulesim::Module module(0, behaviour);

    // Each stop is held for 6 s, then the table turns 45 degrees in 0.5 s.
    struct At {
        double seconds, magnetic;
    };
    for (const At& at : std::vector<At>{{0.0, 0.0},
                                        {5.9, 0.0},
                                        {6.25, 22.5},
                                        {6.5, 45.0},
                                        {9.0, 45.0},
                                        {3 * 6.5 + 1, 135.0},
                                        {7 * 6.5 + 2, 315.0},
                                        {8 * 6.5 + 2, 0.0},
                                        {9 * 6.5 + 2, 45.0}}) {
        SCOPED_TRACE(at.seconds);
        EXPECT_NEAR(
            Wrapped(modulesim::TurntableHeading(*behaviour.turntable, at.seconds) - at.magnetic),
            0.0, 1e-9);
        const modulesim::Reading r = module.ReadingAt(at.seconds);
        EXPECT_EQ(r.pitch, 0.0);
        EXPECT_EQ(r.roll, 0.0);
        EXPECT_GE(r.heading, 0.0);
        EXPECT_LT(r.heading, 360.0);
        EXPECT_DOUBLE_EQ(r.heading, std::round(r.heading * 100.0) / 100.0);
        // magnetic = compass + deviation(compass), to the hundredth the module reports.
        EXPECT_NEAR(Wrapped(r.heading + modulesim::DeviationAt(deviation, r.heading) - at.magnetic),
                    0.0, 0.006);
    }
    // At magnetic north this compass reads 357.03: across north.
    EXPECT_DOUBLE_EQ(module.ReadingAt(1.0).heading, 357.03);

    // Noise of the given spread about the stop, the same for the same moment.
    behaviour.deviation.reset();
    behaviour.turntable->noise = 0.05;
    const modulesim::Module noisy(0, behaviour);
    double sum = 0.0, squares = 0.0;
    const int n = 2000;
    for (int i = 0; i < n; ++i) {
        const double e = Wrapped(noisy.ReadingAt(3.0 + i * 0.001).heading);
        sum += e;
        squares += e * e;
    }
    const double mean = sum / n;
    EXPECT_NEAR(mean, 0.0, 0.01);
    EXPECT_NEAR(std::sqrt(squares / n - mean * mean), 0.05, 0.01);
    EXPECT_EQ(noisy.ReadingAt(4.321).heading, noisy.ReadingAt(4.321).heading);

    // A held heading with a tilt error: the heading moves with the tilt alone.
    modulesim::ModuleBehaviour tilting;
    tilting.hold = 120.0;
    tilting.tiltError = 0.05;
    const modulesim::Module tilted(0, tilting);
    bool tiltedFar = false, level = false, pitched = false, rolled = false;
    for (double t = 0.0; t < 32.0; t += 0.37) {
        const modulesim::Reading r = tilted.ReadingAt(t);
        const double tilt = std::acos(std::cos(r.pitch * std::numbers::pi / 180.0) *
                                      std::cos(r.roll * std::numbers::pi / 180.0)) *
                            180.0 / std::numbers::pi;
        EXPECT_NEAR(r.heading, 120.0 + 0.05 * tilt, 0.006) << t;
        tiltedFar = tiltedFar || tilt > 30.0;
        level = level || tilt == 0.0;
        pitched = pitched || (r.pitch != 0.0 && r.roll == 0.0);
        rolled = rolled || (r.roll != 0.0 && r.pitch == 0.0);
        EXPECT_TRUE(r.pitch == 0.0 || r.roll == 0.0) << t;  // one axis at a time
    }
    EXPECT_TRUE(tiltedFar && level && pitched && rolled);
}

TEST(ModuleSwing, OptionsForTheSwing) {
    const struct {
        std::vector<std::string> args;
        const char* error;  // nullptr when the arguments are good
    } cases[] = {
        {{"--deviation", "1.5,-3,2,0.8,-0.6", "--turntable", "45,6,0.05"}, nullptr},
        {{"--turntable", "15,2"}, nullptr},
        {{"--hold", "359.5", "--tilt-error", "-0.1"}, nullptr},
        {{"--deviation", "1,2,3,4"}, "--deviation: expected A,B,C,D,E"},
        {{"--deviation", "0,20,20,0,0"}, "--deviation: expected A,B,C,D,E"},
        {{"--deviation", "1,x,0,0,0"}, "--deviation: expected A,B,C,D,E"},
        {{"--turntable", "0,6"}, "--turntable: expected STEP,DWELL[,NOISE]"},
        {{"--turntable", "45"}, "--turntable: expected STEP,DWELL[,NOISE]"},
        {{"--turntable", "45,6,-1"}, "--turntable: expected STEP,DWELL[,NOISE]"},
        {{"--hold", "360"}, "--hold: expected a heading"},
        {{"--tilt-error", "nan"}, "--tilt-error: expected"},
        {{"--fixed", "0,0,10", "--turntable", "45,6"}, "--fixed, --turntable and --hold"},
        {{"--hold", "10", "--turntable", "45,6"}, "--fixed, --turntable and --hold"},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto options = modulesim::ParseOptions(c.args, error);
        if (c.error) {
            EXPECT_FALSE(options) << c.args[0] << " " << c.args[1];
            EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
            continue;
        }
        ASSERT_TRUE(options) << error;
    }
    std::string error;
    const auto swing = modulesim::ParseOptions(
        {"--deviation", "1.5,-3,2,0.8,-0.6", "--turntable", "45,6,0.05"}, error);
    ASSERT_TRUE(swing);
    EXPECT_EQ(*swing->deviation, (modulesim::Deviation{1.5, -3, 2, 0.8, -0.6}));
    EXPECT_EQ(swing->turntable->step, 45.0);
    EXPECT_EQ(swing->turntable->dwell, 6.0);
    EXPECT_EQ(swing->turntable->noise, 0.05);
}

}  // namespace
