#pragma once
// What one backend of the bit planes makes of fields and sets, as a plain log
// of numbers. probe.cpp is built twice: with the test binary's backend, and
// with the portable one inside the twin library, where the preprocessor
// renames namespace tavik to tavik_portable. backend_test.cpp compares them.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace backend_probe {

// Type number of the cell (x, y) at 16·x + y.
using Cells = std::array<std::uint8_t, 128>;

struct Log {
    std::vector<std::string> labels;
    std::vector<std::uint64_t> values;

    void add(const std::string& label, std::uint64_t value) {
        labels.push_back(label);
        values.push_back(value);
    }
};

// Words that stand for sets, gather tables and holes; the probe makes its
// arguments valid (at most 15 holes to a lane) itself.
struct PlaneInput {
    std::uint64_t a_low, a_high, b_low, b_high;
    std::array<std::uint8_t, 16> byte, bit;
};

}  // namespace backend_probe

// Defined in each build of probe.cpp, in its namespace.
#define TAVIK_PROBE_DECLARATIONS                                          \
    backend_probe::Log plane_log(const backend_probe::PlaneInput& input); \
    backend_probe::Log field_log(const backend_probe::Cells& cells);      \
    std::vector<backend_probe::Cells> corpus_cells();
