#include "SwingReport.h"

#include <charconv>
#include <cmath>

namespace {

std::string Yes(bool b) {
    return b ? "1" : "0";
}

// A heading with two decimals; what rounds to 360 is 0.
std::string HeadingText(double value) {
    const std::string text = FixedText(value);
    return text == "360.00" ? "0.00" : text;
}

}  // namespace

std::vector<SwingStop> StopsOf(const std::vector<TakenStop>& taken) {
    std::vector<SwingStop> stops;
    for (const TakenStop& t : taken)
        stops.push_back({t.reference, t.compass});
    return stops;
}

std::string FixedText(double value, int decimals) {
    if (!std::isfinite(value))
        return "nan";
    const double scale = std::pow(10.0, decimals);
    if (std::round(value * scale) == 0.0)
        value = 0.0;
    char text[64];
    const auto r =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return r.ec == std::errc() ? std::string(text, r.ptr) : std::string("nan");
}

std::string DeviationText(double value, int decimals) {
    const std::string digits = FixedText(std::fabs(value), decimals);
    if (FixedText(value, decimals) == FixedText(0.0, decimals))
        return digits;
    return (value > 0 ? "+" : "-") + digits + (value > 0 ? " E" : " W");
}

std::string SwingCsv(const std::vector<TakenStop>& stops, const DeviationFit& fit,
                     const std::vector<CardEntry>& card, const SwingVerdict& verdict,
                     double tolerance, const std::string& when) {
    std::string csv;
    csv += "# TORVA compass swing, " + when + "\n";
    csv += std::string("# ") + kDeviationConvention + "; degrees\n";
    csv += "# terms fitted: " + TermsName(fit.terms) + "; rms residual " + FixedText(fit.rms) +
           "; largest residual " + FixedText(fit.largestResidual) + "\n";
    csv += "# tolerance +-" + FixedText(tolerance) + ": " + (verdict.pass ? "PASS" : "FAIL") +
           ", largest deviation " + FixedText(verdict.largestDeviation) + " at compass " +
           HeadingText(verdict.atCompass) + "\n";
    csv += "\n";
    csv +=
        "stop,reference,reference_typed,compass,deviation,residual,spread,farthest,readings,"
        "steady,pitch,roll,taken\n";
    for (std::size_t i = 0; i < stops.size(); ++i) {
        const TakenStop& s = stops[i];
        const double deviation = i < fit.deviations.size() ? fit.deviations[i] : NAN;
        const double residual = i < fit.residuals.size() ? fit.residuals[i] : NAN;
        csv += std::to_string(s.number) + "," + HeadingText(s.reference) + "," +
               Yes(s.typedReference) + "," + HeadingText(s.compass) + "," + FixedText(deviation) +
               "," + FixedText(residual) + "," + FixedText(s.spread, 3) + "," +
               FixedText(s.farthest) + "," + std::to_string(s.readings) + "," + Yes(s.steady) +
               "," + FixedText(s.pitch) + "," + FixedText(s.roll) + "," + s.when + "\n";
    }
    csv += "\ncoefficient,degrees,fitted\n";
    static constexpr const char* kNames[5] = {"A", "B", "C", "D", "E"};
    for (int t = 0; t < 5; ++t)
        csv += std::string(kNames[t]) + "," +
               FixedText(fit.coefficients.terms[static_cast<std::size_t>(t)], 3) + "," +
               Yes(t < fit.terms) + "\n";
    csv += "\ncompass,deviation,magnetic\n";
    for (const CardEntry& e : card)
        csv += FixedText(e.compass, 0) + "," + FixedText(e.deviation) + "," +
               HeadingText(e.magnetic) + "\n";
    return csv;
}
