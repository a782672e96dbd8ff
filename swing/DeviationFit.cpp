#include "DeviationFit.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "Angles.h"

namespace {

constexpr double kRadians = std::numbers::pi / 180.0;
// Beyond this condition number of the design matrix, noise of a tenth of a degree in the
// readings would move the coefficients by degrees: the stops do not tell the terms apart.
constexpr double kMaxCondition = 30.0;

using Matrix = std::vector<std::array<double, 5>>;  // rows of the design matrix

double Basis(int term, double phi) {
    switch (term) {
        case 0:
            return 1.0;
        case 1:
            return std::sin(phi);
        case 2:
            return std::cos(phi);
        case 3:
            return std::sin(2.0 * phi);
        default:
            return std::cos(2.0 * phi);
    }
}

// How many headings the stops lie at, stops within kSameHeadingDegrees of each other (in a
// chain) counting as one.
std::size_t DistinctHeadings(const std::vector<SwingStop>& stops) {
    std::vector<double> headings;
    for (const SwingStop& s : stops)
        headings.push_back(WrapHeading(s.compass));
    std::sort(headings.begin(), headings.end());
    if (headings.empty())
        return 0;
    std::size_t gaps = 0;
    for (std::size_t i = 0; i < headings.size(); ++i) {
        const double next = i + 1 < headings.size() ? headings[i + 1] : headings[0] + 360.0;
        if (next - headings[i] > kSameHeadingDegrees)
            ++gaps;
    }
    return std::max<std::size_t>(gaps, 1);
}

// The condition number of the first `k` columns: the square root of the ratio of the extreme
// eigenvalues of their normal matrix (cyclic Jacobi; k is at most 5).
double Condition(const Matrix& a, int k) {
    std::array<std::array<double, 5>, 5> m{};
    for (const auto& row : a)
        for (int i = 0; i < k; ++i)
            for (int j = 0; j < k; ++j)
                m[i][j] += row[i] * row[j];
    for (int sweep = 0; sweep < 50; ++sweep) {
        double off = 0.0;
        for (int i = 0; i < k; ++i)
            for (int j = i + 1; j < k; ++j)
                off += m[i][j] * m[i][j];
        if (off < 1e-30)
            break;
        for (int p = 0; p < k; ++p) {
            for (int q = p + 1; q < k; ++q) {
                if (std::fabs(m[p][q]) < 1e-300)
                    continue;
                const double theta = (m[q][q] - m[p][p]) / (2.0 * m[p][q]);
                const double t =
                    (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                for (int r = 0; r < k; ++r) {
                    const double mrp = m[r][p], mrq = m[r][q];
                    m[r][p] = c * mrp - s * mrq;
                    m[r][q] = s * mrp + c * mrq;
                }
                for (int r = 0; r < k; ++r) {
                    const double mpr = m[p][r], mqr = m[q][r];
                    m[p][r] = c * mpr - s * mqr;
                    m[q][r] = s * mpr + c * mqr;
                }
            }
        }
    }
    double low = m[0][0], high = m[0][0];
    for (int i = 1; i < k; ++i) {
        low = std::min(low, m[i][i]);
        high = std::max(high, m[i][i]);
    }
    if (low <= high * 1e-24)
        return HUGE_VAL;
    return std::sqrt(high / low);
}

// Least squares for the first `k` columns by Householder QR.
std::array<double, 5> Solve(Matrix a, std::vector<double> y, int k) {
    const std::size_t n = a.size();
    for (int j = 0; j < k; ++j) {
        double norm = 0.0;
        for (std::size_t i = static_cast<std::size_t>(j); i < n; ++i)
            norm += a[i][j] * a[i][j];
        norm = std::sqrt(norm);
        const auto uj = static_cast<std::size_t>(j);
        const double alpha = a[uj][j] > 0 ? -norm : norm;
        // v = column - alpha e_j, stored in place below the diagonal.
        std::vector<double> v(n, 0.0);
        for (std::size_t i = uj; i < n; ++i)
            v[i] = a[i][j];
        v[uj] -= alpha;
        double vv = 0.0;
        for (std::size_t i = uj; i < n; ++i)
            vv += v[i] * v[i];
        if (vv == 0.0)
            continue;
        for (int c = j; c < k; ++c) {
            double dot = 0.0;
            for (std::size_t i = uj; i < n; ++i)
                dot += v[i] * a[i][c];
            const double f = 2.0 * dot / vv;
            for (std::size_t i = uj; i < n; ++i)
                a[i][c] -= f * v[i];
        }
        double dot = 0.0;
        for (std::size_t i = uj; i < n; ++i)
            dot += v[i] * y[i];
        const double f = 2.0 * dot / vv;
        for (std::size_t i = uj; i < n; ++i)
            y[i] -= f * v[i];
    }
    std::array<double, 5> x{};
    for (int j = k - 1; j >= 0; --j) {
        const auto uj = static_cast<std::size_t>(j);
        double sum = y[uj];
        for (int c = j + 1; c < k; ++c)
            sum -= a[uj][c] * x[static_cast<std::size_t>(c)];
        x[uj] = sum / a[uj][j];
    }
    return x;
}

}  // namespace

double DeviationCoefficients::At(double compassDegrees) const {
    const double phi = compassDegrees * kRadians;
    double sum = 0.0;
    for (int t = 0; t < 5; ++t)
        sum += terms[static_cast<std::size_t>(t)] * Basis(t, phi);
    return sum;
}

double DeviationOf(double reference, double compass) {
    return WrapSigned(reference - compass);
}

std::string TermsName(int terms) {
    return terms <= 1 ? "A" : terms <= 3 ? "A-C" : "A-E";
}

FitOutcome FitDeviation(const std::vector<SwingStop>& stops, int terms) {
    FitOutcome outcome;
    if (terms != 0 && terms != 1 && terms != 3 && terms != 5) {
        outcome.error = "the terms fitted are A, A-C or A-E";
        return outcome;
    }
    if (stops.empty()) {
        outcome.error = "no stop has been taken yet";
        return outcome;
    }
    for (const SwingStop& s : stops) {
        if (!std::isfinite(s.reference) || !std::isfinite(s.compass)) {
            outcome.error = "a stop holds a heading that is not a number";
            return outcome;
        }
    }
    const std::size_t distinct = DistinctHeadings(stops);
    Matrix a;
    std::vector<double> y;
    for (const SwingStop& s : stops) {
        std::array<double, 5> row{};
        for (int t = 0; t < 5; ++t)
            row[static_cast<std::size_t>(t)] = Basis(t, s.compass * kRadians);
        a.push_back(row);
        y.push_back(DeviationOf(s.reference, s.compass));
    }

    // Why a given number of terms cannot be fitted, or empty when it can.
    auto refusal = [&](int k) -> std::string {
        if (distinct < static_cast<std::size_t>(k)) {
            std::string why = TermsName(k) + " needs stops at " + std::to_string(k) +
                              " different headings; the " + std::to_string(stops.size()) +
                              (stops.size() == 1 ? " stop lies" : " stops lie") + " at " +
                              std::to_string(distinct);
            if (distinct < stops.size())
                why += " (stops less than 1 degree apart count as one heading)";
            return why;
        }
        if (k > 1 && Condition(a, k) > kMaxCondition)
            return "the stops' headings are too unevenly spread to tell " + TermsName(k) +
                   " apart; take stops around the whole circle";
        return {};
    };

    int k = terms;
    std::string note;
    if (terms == 0) {
        // The most terms the stops determine; the note says what kept the next ones out.
        std::string above;
        for (const int candidate : {5, 3, 1}) {
            const std::string why = refusal(candidate);
            if (why.empty()) {
                k = candidate;
                break;
            }
            above = why;
        }
        note = above;
    } else if (std::string why = refusal(terms); !why.empty()) {
        outcome.error = why;
        return outcome;
    }

    DeviationFit fit;
    fit.terms = k;
    fit.distinctHeadings = distinct;
    fit.note = note;
    const std::array<double, 5> x = Solve(a, y, k);
    for (int t = 0; t < k; ++t)
        fit.coefficients.terms[static_cast<std::size_t>(t)] = x[static_cast<std::size_t>(t)];
    double sumSquares = 0.0;
    for (std::size_t i = 0; i < stops.size(); ++i) {
        const double residual = WrapSigned(y[i] - fit.coefficients.At(stops[i].compass));
        fit.deviations.push_back(y[i]);
        fit.residuals.push_back(residual);
        sumSquares += residual * residual;
        if (std::fabs(residual) > fit.largestResidual) {
            fit.largestResidual = std::fabs(residual);
            fit.largestResidualStop = i;
        }
    }
    fit.rms = std::sqrt(sumSquares / static_cast<double>(stops.size()));
    for (const double c : fit.coefficients.terms) {
        if (!std::isfinite(c)) {
            outcome.error = "the stops give no finite fit";
            return outcome;
        }
    }
    outcome.fit = fit;
    return outcome;
}

std::vector<CardEntry> DeviationCard(const DeviationCoefficients& coefficients,
                                     double stepDegrees) {
    std::vector<CardEntry> card;
    if (!(stepDegrees > 0.0))
        return card;
    for (int i = 0; i * stepDegrees < 360.0 - 1e-9; ++i) {
        const double compass = i * stepDegrees;
        const double deviation = coefficients.At(compass);
        card.push_back({compass, deviation, WrapHeading(compass + deviation)});
    }
    return card;
}

SwingVerdict JudgeSwing(const DeviationFit& fit, const std::vector<SwingStop>& stops,
                        double tolerance) {
    SwingVerdict verdict;
    auto consider = [&](double deviation, double compass) {
        if (std::fabs(deviation) > std::fabs(verdict.largestDeviation)) {
            verdict.largestDeviation = deviation;
            verdict.atCompass = WrapHeading(compass);
        }
    };
    // The card in steps of one degree, so that a peak between the card's lines counts too.
    for (const CardEntry& e : DeviationCard(fit.coefficients, 1.0))
        consider(e.deviation, e.compass);
    for (std::size_t i = 0; i < stops.size() && i < fit.deviations.size(); ++i)
        consider(fit.deviations[i], stops[i].compass);
    verdict.pass = std::fabs(verdict.largestDeviation) <= tolerance;
    return verdict;
}
