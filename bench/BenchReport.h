#pragma once
// One figure of a benchmark, as tools/bench.sh gathers them: each report()
// prints a line "BENCH<TAB>figure<TAB>value<TAB>unit<TAB>baseline<TAB>ratio
// <TAB>target<TAB>budget<TAB>met" beside the benchmark's own words. budget is
// the share of its target the figure uses (1 or less meets it), so that
// figures of every kind fit on one chart.

#include <cstdio>
#include <optional>
#include <string>

namespace chatterly::bench {

enum class Goal {
    AtMost,   // value <= target
    AtLeast,  // value >= target
};

struct Figure {
    std::string name;
    double value = 0;
    std::string unit;
    std::optional<double> baseline;  // what the value is measured against
    // The target: the value's own, or, with onRatio, value / baseline's.
    Goal goal = Goal::AtMost;
    double target = 0;
    bool onRatio = false;
};

inline void report(const Figure& f) {
    const std::optional<double> ratio = f.baseline && *f.baseline != 0
                                            ? std::optional<double>(f.value / *f.baseline)
                                            : std::nullopt;
    const double judged = f.onRatio && ratio ? *ratio : f.value;
    const double budget = f.goal == Goal::AtMost ? (f.target > 0 ? judged / f.target : 0)
                                                 : (judged > 0 ? f.target / judged : 99);
    const char* op = f.goal == Goal::AtMost ? "<=" : ">=";
    char target[64];
    std::snprintf(target, sizeof target, "%s%s %g%s%s", f.onRatio ? "ratio " : "", op, f.target,
                  f.onRatio ? "" : " ", f.onRatio ? "" : f.unit.c_str());
    char baseline[32] = "";
    char ratioText[32] = "";
    if (f.baseline) {
        std::snprintf(baseline, sizeof baseline, "%.4g", *f.baseline);
    }
    if (ratio) {
        std::snprintf(ratioText, sizeof ratioText, "%.2f", *ratio);
    }
    std::printf("BENCH\t%s\t%.4g\t%s\t%s\t%s\t%s\t%.2f\t%s\n", f.name.c_str(), f.value,
                f.unit.c_str(), baseline, ratioText, target, budget, budget <= 1 ? "yes" : "NO");
    std::fflush(stdout);
}

}  // namespace chatterly::bench
