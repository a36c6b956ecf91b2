#pragma once
// Medians, and figures measured in fresh child processes (the first page of a process is timed in
// a process that has done nothing else): the child prints its figure as the first number on
// standard output.

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace vantrel::bench {

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The median of the figures `command` prints in `runs` fresh processes; 0 when a run failed or
// printed no positive number.
inline double medianOfChildren(const std::string& command, int runs = 5) {
    std::vector<double> figures;
    for (int i = 0; i < runs; ++i) {
        std::FILE* child = popen(command.c_str(), "r");
        double figure = 0;
        if (!child || std::fscanf(child, "%lf", &figure) != 1) {
            figure = 0;
        }
        if (child && pclose(child) != 0) {
            figure = 0;
        }
        if (figure <= 0) {
            return 0;
        }
        figures.push_back(figure);
    }
    return median(figures);
}

} // namespace vantrel::bench
