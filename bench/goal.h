#pragma once
// One line per goal, the same shape in every benchmark, so bench/run.sh can collect them:
//   goal: met     <what>: <figure> vs <reference> = <ratio>x (goal <= <bar>x)
//   goal: MISSED  <what>: <figure> (goal <= <limit>; <how the limit is made>)
// A goal whose figure or reference could not be measured is MISSED: a missing figure proves
// nothing.

#include <cstdio>
#include <string>

namespace vantrel::bench {

// figure / reference <= bar, both in milliseconds (or both in the same unit, named).
inline bool ratioGoal(const std::string& what, double figure, const std::string& referenceName,
                      double reference, double bar, const char* unit = "ms") {
    const bool measured = figure > 0 && reference > 0;
    const double ratio = measured ? figure / reference : 0;
    const bool met = measured && ratio <= bar;
    std::printf("goal: %-7s %s: %.1f %s vs %s %.1f %s = %.2fx (goal <= %.2fx)\n",
                met ? "met" : "MISSED", what.c_str(), figure, unit, referenceName.c_str(),
                reference, unit, ratio, bar);
    std::fflush(stdout);
    return met;
}

// figure <= limit, where `limitText` says how the limit was made from the reference.
inline bool limitGoal(const std::string& what, double figure, double limit,
                      const std::string& limitText, const char* unit = "ms") {
    const bool met = figure > 0 && figure <= limit;
    std::printf("goal: %-7s %s: %.1f %s (goal <= %.1f %s: %s)\n", met ? "met" : "MISSED",
                what.c_str(), figure, unit, limit, unit, limitText.c_str());
    std::fflush(stdout);
    return met;
}

} // namespace vantrel::bench
