// The swing's math without a window: the deviation fit and its card, the dwell and tilt
// statistics, the magnetic model against its published test values, and the export files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Angles.h"
#include "DeviationFit.h"
#include "Dwell.h"
#include "ExportFile.h"
#include "FileSizeLimit.h"
#include "SwingReport.h"
#include "TiltCheck.h"
#include "Wmm2025.h"

namespace {

constexpr std::int64_t kSecond = 1'000'000'000;

DeviationCoefficients Coefficients(std::array<double, 5> terms) {
    DeviationCoefficients c;
    c.terms = terms;
    return c;
}

// Stops at `count` evenly spaced magnetic headings from `first`, with what a compass of the
// given deviation reads there: compass + deviation(compass) = reference.
std::vector<SwingStop> Swing(const DeviationCoefficients& deviation, int count,
                             double first = 0.0) {
    std::vector<SwingStop> stops;
    for (int i = 0; i < count; ++i) {
        const double reference = WrapHeading(first + 360.0 * i / count);
        double compass = reference;
        for (int k = 0; k < 200; ++k)
            compass = WrapHeading(reference - deviation.At(compass));
        stops.push_back({reference, compass});
    }
    return stops;
}

void ExpectCoefficients(const DeviationCoefficients& got, const std::array<double, 5>& want,
                        double tolerance) {
    for (std::size_t t = 0; t < 5; ++t)
        EXPECT_NEAR(got.terms[t], want[t], tolerance) << "term "
                                                      << "ABCDE"[t];
}

TEST(DeviationFit, RecoversKnownCoefficientsExactlyFromEightAndTwentyFourStops) {
    const std::vector<std::array<double, 5>> sets = {
        {1.5, -3.0, 2.0, 0.8, -0.6},  // the e2e set
        {0.0, 0.0, 0.0, 0.0, 0.0},    // a perfect compass
        {-6.0, 4.0, -5.0, 1.5, 2.5},  // large: stop 000 reads beyond 000, across north
        {0.3, 0.0, 0.0, -2.0, 0.0},   // quadrantal only
    };
    for (const auto& set : sets) {
        for (const int count : {8, 24}) {
            SCOPED_TRACE(testing::Message() << count << " stops, A=" << set[0] << " B=" << set[1]);
            const auto stops = Swing(Coefficients(set), count);
            const FitOutcome outcome = FitDeviation(stops);
            ASSERT_TRUE(outcome.fit) << outcome.error;
            EXPECT_EQ(outcome.fit->terms, 5);
            EXPECT_EQ(outcome.fit->note, "");
            ExpectCoefficients(outcome.fit->coefficients, set, 1e-9);
            EXPECT_LT(outcome.fit->rms, 1e-9);
            EXPECT_LT(outcome.fit->largestResidual, 1e-9);
            for (std::size_t i = 0; i < stops.size(); ++i)
                EXPECT_NEAR(outcome.fit->deviations[i],
                            WrapSigned(stops[i].reference - stops[i].compass), 1e-12);
        }
    }
}

TEST(DeviationFit, HeadingsAcrossNorthAndTheSignOfTheDeviation) {
    // magnetic - compass, wrapped to (-180, 180]; 360 and -0 are north.
    struct Case {
        double reference, compass, deviation;
    };
    for (const Case& c : std::vector<Case>{{0.0, 359.0, 1.0},
                                           {359.0, 1.0, -2.0},
                                           {360.0, 358.5, 1.5},
                                           {-0.0, 0.25, -0.25},
                                           {0.0, 180.0, 180.0},
                                           {180.0, 0.0, 180.0},
                                           {90.0, 93.0, -3.0}})
        EXPECT_DOUBLE_EQ(DeviationOf(c.reference, c.compass), c.deviation)
            << c.reference << " - " << c.compass;

    // A constant +2 E: the compass reads 358 at magnetic north. Stops typed as 360 and 0 agree.
    std::vector<SwingStop> stops = Swing(Coefficients({2.0, 0, 0, 0, 0}), 8);
    ASSERT_NEAR(stops[0].compass, 358.0, 1e-9);
    stops[0].reference = 360.0;
    const FitOutcome outcome = FitDeviation(stops);
    ASSERT_TRUE(outcome.fit) << outcome.error;
    ExpectCoefficients(outcome.fit->coefficients, {2.0, 0, 0, 0, 0}, 1e-9);
    // The card: at compass 000 the correction is +2, the magnetic heading 002.
    const auto card = DeviationCard(outcome.fit->coefficients);
    ASSERT_EQ(card.size(), 24u);
    EXPECT_DOUBLE_EQ(card[23].compass, 345.0);
    EXPECT_NEAR(card[0].deviation, 2.0, 1e-9);
    EXPECT_NEAR(card[0].magnetic, 2.0, 1e-9);
    // A westerly deviation at 000 makes the magnetic heading wrap below north.
    const auto west = DeviationCard(Coefficients({-5.0, 0, 0, 0, 0}));
    EXPECT_NEAR(west[0].magnetic, 355.0, 1e-9);
}

TEST(DeviationFit, PartialFitsAndStopsThatCannotDetermineTheTerms) {
    const std::array<double, 5> semicircular = {1.0, -2.0, 3.0, 0.0, 0.0};
    const DeviationCoefficients c = Coefficients(semicircular);
    struct Case {
        const char* name;
        std::vector<SwingStop> stops;
        int asked;
        int fitted;           // 0: refused
        std::string message;  // in the note or the error
    };
    std::vector<SwingStop> close = Swing(c, 4);
    close.push_back({close[1].reference + 0.5, close[1].compass + 0.5});  // one heading again
    const std::vector<Case> cases = {
        {"nothing", {}, 0, 0, "no stop has been taken yet"},
        {"one stop", Swing(c, 1), 0, 1, "A-C needs stops at 3 different headings; the 1 stop"},
        {"two at one heading", {{10.0, 8.0}, {10.4, 8.6}}, 0, 1, "count as one heading"},
        {"three stops", Swing(c, 3), 0, 3, "A-E needs stops at 5 different headings"},
        {"four stops", Swing(c, 4), 0, 3, "the 4 stops lie at 4"},
        {"five with two at one heading", close, 0, 3, "the 5 stops lie at 4"},
        {"five stops", Swing(c, 5), 0, 5, ""},
        {"five asked of three", Swing(c, 3), 5, 0, "A-E needs stops at 5 different headings"},
        {"three asked of five", Swing(c, 5), 3, 3, ""},
        {"bunched in 40 degrees",
         {{0, 0}, {10, 10}, {20, 20}, {30, 30}, {40, 40}},
         0,
         1,
         "too unevenly spread to tell A-C apart"},
        {"bunched, A-E asked",
         {{0, 0}, {10, 10}, {20, 20}, {30, 30}, {40, 40}},
         5,
         0,
         "too unevenly spread to tell A-E apart"},
        {"terms that do not exist", Swing(c, 8), 4, 0, "A, A-C or A-E"},
        {"not a number", {{NAN, 3.0}}, 0, 0, "not a number"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const FitOutcome outcome = FitDeviation(k.stops, k.asked);
        if (k.fitted == 0) {
            EXPECT_FALSE(outcome.fit);
            EXPECT_NE(outcome.error.find(k.message), std::string::npos) << outcome.error;
            continue;
        }
        ASSERT_TRUE(outcome.fit) << outcome.error;
        const DeviationFit& fit = *outcome.fit;
        EXPECT_EQ(fit.terms, k.fitted);
        EXPECT_NE(fit.note.find(k.message), std::string::npos) << fit.note;
        for (const double t : fit.coefficients.terms)
            EXPECT_TRUE(std::isfinite(t));
        for (std::size_t t = static_cast<std::size_t>(fit.terms); t < 5; ++t)
            EXPECT_EQ(fit.coefficients.terms[t], 0.0);
    }
    // From three spread stops the semicircular set is recovered exactly; one stop gives A as
    // its own deviation.
    ExpectCoefficients(FitDeviation(Swing(c, 3)).fit->coefficients, semicircular, 1e-9);
    const auto one = Swing(c, 1, 90.0);
    EXPECT_NEAR(FitDeviation(one).fit->coefficients.A(), one[0].reference - one[0].compass, 1e-12);
}

TEST(DeviationFit, NoisyStopsGiveResidualsAndTheVerdictFollowsTheLargestDeviation) {
    const std::array<double, 5> set = {1.5, -3.0, 2.0, 0.8, -0.6};
    std::vector<SwingStop> stops = Swing(Coefficients(set), 8);
    stops[3].compass -= 0.4;  // a stop read 0.4 low: its deviation is 0.4 more
    const FitOutcome outcome = FitDeviation(stops);
    ASSERT_TRUE(outcome.fit);
    EXPECT_EQ(outcome.fit->largestResidualStop, 3u);
    EXPECT_GT(outcome.fit->largestResidual, 0.1);
    EXPECT_LT(outcome.fit->largestResidual, 0.4);
    EXPECT_GT(outcome.fit->rms, 0.05);

    // The largest deviation of this set lies between the card's lines; the verdict finds it.
    const SwingVerdict verdict = JudgeSwing(*outcome.fit, stops, 1.0);
    EXPECT_FALSE(verdict.pass);
    double largest = 0.0;
    for (int d = 0; d < 3600; ++d)
        largest = std::max(largest, std::fabs(outcome.fit->coefficients.At(d / 10.0)));
    EXPECT_NEAR(std::fabs(verdict.largestDeviation), largest, 0.01);
    EXPECT_TRUE(JudgeSwing(*outcome.fit, stops, largest + 0.02).pass);

    const auto small = Swing(Coefficients({0.2, 0.3, -0.1, 0.0, 0.1}), 8);
    const SwingVerdict good = JudgeSwing(*FitDeviation(small).fit, small, 1.0);
    EXPECT_TRUE(good.pass);
    EXPECT_LT(std::fabs(good.largestDeviation), 1.0);
}

TEST(SwingReport, CsvHoldsTheConventionStopsCoefficientsAndCard) {
    const auto stops = Swing(Coefficients({1.5, -3.0, 2.0, 0.8, -0.6}), 8);
    std::vector<TakenStop> taken;
    for (std::size_t i = 0; i < stops.size(); ++i) {
        TakenStop t;
        t.number = static_cast<int>(i) + 1;
        t.reference = stops[i].reference;
        t.compass = stops[i].compass;
        t.readings = 50;
        t.steady = i != 2;
        t.typedReference = i == 5;
        t.when = "2026-12-09 10:00:0" + std::to_string(i);
        taken.push_back(t);
    }
    const DeviationFit fit = *FitDeviation(StopsOf(taken)).fit;
    const std::string csv = SwingCsv(taken, fit, DeviationCard(fit.coefficients),
                                     JudgeSwing(fit, StopsOf(taken), 1.0), 1.0, "2026-12-09");
    std::istringstream in(csv);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 5u + 1 + 8 + 1 + 1 + 5 + 1 + 1 + 24);
    EXPECT_EQ(lines[1],
              "# deviation = magnetic (reference) - compass, easterly positive; magnetic = "
              "compass + deviation; degrees");
    EXPECT_EQ(lines[3].rfind("# tolerance +-1.00: FAIL, largest deviation ", 0), 0u) << lines[3];
    EXPECT_EQ(lines[5],
              "stop,reference,reference_typed,compass,deviation,residual,spread,farthest,"
              "readings,steady,pitch,roll,taken");
    // Stop 1: magnetic 000, where the compass reads 357.03 with a deviation of +2.97 E.
    EXPECT_EQ(lines[6].substr(0, 32), "1,0.00,0,357.03,2.97,0.00,0.000,") << lines[6];
    EXPECT_NE(lines[8].find(",50,0,"), std::string::npos) << lines[8];  // stop 3 not steady
    EXPECT_EQ(lines[11].substr(0, 10), "6,225.00,1") << lines[11];      // typed reference
    EXPECT_EQ(lines[15], "coefficient,degrees,fitted");
    EXPECT_EQ(lines[16], "A,1.500,1");
    EXPECT_EQ(lines[17], "B,-3.000,1");
    EXPECT_EQ(lines[20], "E,-0.600,1");
    EXPECT_EQ(lines[22], "compass,deviation,magnetic");
    EXPECT_EQ(lines[23], "0,2.90,2.90");  // A + C + E at compass 000
    EXPECT_EQ(lines[24].substr(0, 3), "15,");
    EXPECT_EQ(lines.back().substr(0, 4), "345,");
    EXPECT_EQ(csv.find("nan"), std::string::npos);

    EXPECT_EQ(DeviationText(1.25, 2), "+1.25 E");
    EXPECT_EQ(DeviationText(-0.4), "-0.4 W");
    EXPECT_EQ(DeviationText(-0.04), "0.0");
    EXPECT_EQ(FixedText(-0.001), "0.00");
}

TEST(Dwell, SteadinessOverTheDwell) {
    struct Case {
        const char* name;
        std::vector<double> headings;  // one every 0.1 s
        std::int64_t gapAtNs;          // a silence of 1.5 s before this reading index, 0: none
        bool whole, steady;
        double mean, farthest;
    };
    auto held = [](double h, int n, double wobble) {
        std::vector<double> v;
        for (int i = 0; i < n; ++i)
            v.push_back(WrapHeading(h + (i % 2 ? wobble : -wobble)));
        return v;
    };
    std::vector<double> turning;
    for (int i = 0; i < 60; ++i)
        turning.push_back(100.0 + i * 0.1);  // 1 degree a second
    const std::vector<Case> cases = {
        {"held", held(45.0, 60, 0.1), 0, true, true, 45.0, 0.1},
        {"held across north", held(0.0, 60, 0.2), 0, true, true, 0.0, 0.2},
        {"too short", held(45.0, 40, 0.1), 0, false, false, 45.0, 0.1},
        {"wobbling", held(200.0, 60, 0.7), 0, true, false, 200.0, 0.7},
        {"turning", turning, 0, true, false, 103.45, 2.45},
        {"a gap", held(45.0, 60, 0.1), 50, false, false, 45.0, 0.1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DwellMonitor monitor(5.0, 0.5);
        std::int64_t ns = 7 * kSecond;
        for (std::size_t i = 0; i < c.headings.size(); ++i) {
            ns += i == static_cast<std::size_t>(c.gapAtNs) && c.gapAtNs ? 3 * kSecond / 2
                                                                        : kSecond / 10;
            monitor.Add(ns, 1.0, -2.0, c.headings[i]);
        }
        const DwellState s = monitor.State();
        EXPECT_EQ(s.whole, c.whole);
        EXPECT_EQ(s.steady, c.steady);
        // The dwell holds an odd number of readings, so the mean leans a little to one side.
        EXPECT_NEAR(HeadingDistance(s.mean, c.mean), 0.0, 0.06);
        EXPECT_NEAR(s.farthest, c.farthest, 0.06);
        EXPECT_NEAR(s.pitch, 1.0, 1e-9);
        EXPECT_NEAR(s.roll, -2.0, 1e-9);
    }
    // Only the last dwell counts: a turn that ended 5 s ago no longer spoils the steadiness.
    DwellMonitor monitor(5.0, 0.5);
    std::int64_t ns = 0;
    for (int i = 0; i < 100; ++i)
        monitor.Add(ns += kSecond / 10, 0, 0, i < 40 ? i * 2.0 : 90.0);
    EXPECT_TRUE(monitor.State().steady);
    EXPECT_EQ(monitor.State().count, 51u);
}

TEST(TiltCheck, BandsOfTiltAndTheLargestHeadingChangeInEach) {
    EXPECT_NEAR(TiltAngle(0, 0), 0.0, 1e-12);
    EXPECT_NEAR(TiltAngle(30, 0), 30.0, 1e-9);
    EXPECT_NEAR(TiltAngle(0, -45), 45.0, 1e-9);
    EXPECT_NEAR(TiltAngle(30, 40),
                std::acos(std::cos(std::numbers::pi / 6) * std::cos(std::numbers::pi * 40 / 180)) *
                    180 / std::numbers::pi,
                1e-9);

    // A compass off by 0.05 degrees per degree of tilt, tilted from level to 34 degrees.
    std::vector<TiltSample> samples;
    for (int i = 0; i <= 340; ++i)
        samples.push_back({i / 10.0, (i % 2 ? 0.05 : -0.05) * i / 10.0});
    const TiltResult r = AnalyseTilt(samples, 1.0);
    ASSERT_EQ(r.bands.size(), 4u);
    EXPECT_DOUBLE_EQ(r.bands[0].from, 0.0);
    EXPECT_DOUBLE_EQ(r.bands[0].to, 10.0);
    EXPECT_EQ(r.bands[0].count, 100u);
    EXPECT_NEAR(r.bands[0].largest, 0.495, 1e-9);
    EXPECT_NEAR(r.bands[1].largest, 0.995, 1e-9);
    EXPECT_TRUE(r.bands[1].pass);
    EXPECT_NEAR(std::fabs(r.bands[2].largest), 1.495, 1e-9);
    EXPECT_FALSE(r.bands[2].pass);
    EXPECT_FALSE(r.pass);
    EXPECT_DOUBLE_EQ(r.passesUpTo, 20.0);
    EXPECT_NEAR(r.perTenDegrees, 0.5, 1e-9);
    EXPECT_NEAR(r.largestTilt, 34.0, 1e-9);
    EXPECT_TRUE(AnalyseTilt(samples, 2.0).pass);
    EXPECT_FALSE(AnalyseTilt({}, 1.0).pass);
}

TEST(Wmm2025, TheTwelvePublishedTestValues) {
    struct Value {
        double year, heightKm, lat, lon, x, y, z, d;
    };
    const std::vector<Value> values = {
        {2025.0, 0.0, 80.0, 0.0, 6521.6, 145.9, 54791.5, 1.28},
        {2025.0, 0.0, 0.0, 120.0, 39677.8, -109.6, -10580.2, -0.16},
        {2025.0, 0.0, -80.0, 240.0, 6117.5, 15751.9, -52022.5, 68.78},
        {2025.0, 100.0, 80.0, 0.0, 6216.0, 92.4, 52598.8, 0.85},
        {2025.0, 100.0, 0.0, 120.0, 37688.6, -96.2, -10152.1, -0.15},
        {2025.0, 100.0, -80.0, 240.0, 5907.6, 14780.3, -49540.7, 68.21},
        {2027.5, 0.0, 80.0, 0.0, 6500.8, 294.5, 54869.4, 2.59},
        {2027.5, 0.0, 0.0, 120.0, 39701.6, -167.4, -10381.8, -0.24},
        {2027.5, 0.0, -80.0, 240.0, 6200.7, 15730.3, -51783.7, 68.49},
        {2027.5, 100.0, 80.0, 0.0, 6196.7, 233.8, 52670.5, 2.16},
        {2027.5, 100.0, 0.0, 120.0, 37711.5, -148.7, -9969.8, -0.23},
        {2027.5, 100.0, -80.0, 240.0, 5984.0, 14760.1, -49317.7, 67.93},
    };
    for (const Value& v : values) {
        SCOPED_TRACE(testing::Message()
                     << v.year << " " << v.heightKm << " km " << v.lat << "," << v.lon);
        const WmmResult r = EvaluateWmm({v.lat, v.lon, v.heightKm, v.year});
        ASSERT_TRUE(r.field) << r.error;
        // Printed to 0.01 degree and 0.1 nT: the model must round to the same figures.
        EXPECT_NEAR(r.field->declination, v.d, 0.005 + 1e-9);
        EXPECT_NEAR(r.field->x, v.x, 0.05 + 1e-6);
        EXPECT_NEAR(r.field->y, v.y, 0.05 + 1e-6);
        EXPECT_NEAR(r.field->z, v.z, 0.05 + 1e-6);
        EXPECT_FALSE(r.field->outsideValidity);
    }
}

TEST(Wmm2025, QueriesTheModelCannotAnswerAndTheDates) {
    struct Case {
        WmmQuery query;
        std::string error;  // empty: a field
        bool outside;
    };
    const std::vector<Case> cases = {
        {{90.0, 0.0, 0.0, 2026.0}, "the declination is undefined", false},
        {{-90.0, 45.0, 0.0, 2026.0}, "the declination is undefined", false},
        {{89.9999, 45.0, 0.0, 2026.0}, "", false},
        {{90.5, 0.0, 0.0, 2026.0}, "latitude must lie from -90 to 90", false},
        {{10.0, 0.0, 900.0, 2026.0}, "850 km", false},
        {{10.0, 0.0, -2.0, 2026.0}, "1 km below", false},
        {{NAN, 0.0, 0.0, 2026.0}, "must all be numbers", false},
        {{10.0, 0.0, 0.0, 2030.0}, "", true},
        {{10.0, 0.0, 0.0, 2024.99}, "", true},
        {{10.0, 0.0, 0.0, 2029.99}, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.query.latitude << " " << c.query.heightKm << " " << c.query.year);
        const WmmResult r = EvaluateWmm(c.query);
        if (!c.error.empty()) {
            EXPECT_FALSE(r.field);
            EXPECT_NE(r.error.find(c.error), std::string::npos) << r.error;
            continue;
        }
        ASSERT_TRUE(r.field) << r.error;
        EXPECT_TRUE(std::isfinite(r.field->declination));
        EXPECT_EQ(r.field->outsideValidity, c.outside);
    }
    // Near the north magnetic pole the horizontal field is weak.
    EXPECT_TRUE(EvaluateWmm({85.0, 140.0, 0.0, 2026.0}).field->weakHorizontalField);
    EXPECT_FALSE(EvaluateWmm({52.0, 0.0, 0.0, 2026.0}).field->weakHorizontalField);

    EXPECT_DOUBLE_EQ(DecimalYear(2025, 1, 1), 2025.0);
    EXPECT_DOUBLE_EQ(DecimalYear(2027, 7, 2), 2027.0 + 182.0 / 365.0);
    EXPECT_DOUBLE_EQ(DecimalYear(2028, 3, 1), 2028.0 + 60.0 / 366.0);  // a leap year
    EXPECT_DOUBLE_EQ(DecimalYear(2029, 12, 31), 2029.0 + 364.0 / 365.0);
}

class NewFileTest : public testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::path(testing::TempDir()) /
                 ("torva_newfile_" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder);
    }
    void TearDown() override {
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add);
        std::filesystem::remove_all(folder);
    }
    static std::string Read(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::filesystem::path folder;
};

TEST_F(NewFileTest, NewNamesNeverThroughALinkAndNothingHalfWritten) {
    // The folder is made; the first file takes the name itself.
    const std::string sub = (folder / "exports").string();
    NewFileResult first = WriteNewFile(sub, "Swing", ".csv", "one\n");
    ASSERT_EQ(first.error, "");
    EXPECT_EQ(first.path, (folder / "exports" / "Swing.csv").string());
    EXPECT_EQ(Read(first.path), "one\n");

    // A taken name, and a link planted at the next one pointing at a file of the user's: both
    // are left alone and the export takes the name after.
    const auto victim = folder / "victim.txt";
    std::ofstream(victim) << "keep";
    std::filesystem::create_symlink(victim, folder / "exports" / "Swing-2.csv");
    std::filesystem::create_symlink(folder / "missing", folder / "exports" / "Swing-3.csv");
    const NewFileResult second = WriteNewFile(sub, "Swing", ".csv", "two\n");
    ASSERT_EQ(second.error, "");
    EXPECT_EQ(second.path, (folder / "exports" / "Swing-4.csv").string());
    EXPECT_EQ(Read(first.path), "one\n");
    EXPECT_EQ(Read(victim), "keep");
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));

    // A disk that fills up part way: the partial file is removed and the error says so.
    const auto marker = folder / "marker";
    std::ofstream(marker).close();
    {
        FileSizeLimit limit(marker, 100);
        ASSERT_TRUE(limit.Held());
        const NewFileResult full = WriteNewFile(sub, "Card", ".pdf", std::string(5000, 'x'));
        EXPECT_EQ(full.path, "");
        EXPECT_NE(full.error.find("cannot write " + (folder / "exports" / "Card.pdf").string()),
                  std::string::npos)
            << full.error;
        EXPECT_NE(full.error.find("it was removed"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(folder / "exports" / "Card.pdf"));

    // A folder that cannot be made, or one the user may not write to.
    std::ofstream(folder / "plain") << "x";
    EXPECT_NE(WriteNewFile((folder / "plain" / "sub").string(), "S", ".csv", "x")
                  .error.find("cannot create the folder"),
              std::string::npos);
    if (::geteuid() != 0) {
        std::filesystem::permissions(sub, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::remove);
        EXPECT_NE(WriteNewFile(sub, "S", ".csv", "x").error.find("cannot create"),
                  std::string::npos);
    }
}

}  // namespace
