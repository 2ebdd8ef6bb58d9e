// The two backends of the bit planes against each other: the x86 one of this
// binary and the portable one of the twin library (see backend_probe/probe.hpp)
// on random words, the corpus and random fields. Built only beside the x86
// backend; a portable build has nothing to compare with.
#if TAVIK_BACKEND_TWIN

#include <gtest/gtest.h>

#include <random>

#include "backend_probe/probe.hpp"

namespace tavik {
TAVIK_PROBE_DECLARATIONS
}  // namespace tavik
namespace tavik_portable {
TAVIK_PROBE_DECLARATIONS
}  // namespace tavik_portable

namespace {

using backend_probe::Cells;
using backend_probe::Log;

// Both logs entry by entry; the first difference is named by its label.
void expect_same(const Log& x86, const Log& portable, const std::string& what) {
    ASSERT_EQ(x86.labels, portable.labels) << what;
    for (std::size_t i = 0; i < x86.values.size(); ++i)
        ASSERT_EQ(x86.values[i], portable.values[i]) << what << ": " << x86.labels[i] << " (entry " << i << ")";
}

std::uint64_t sparse(std::mt19937_64& rng, unsigned density) {
    std::uint64_t w = ~std::uint64_t{0};
    for (unsigned i = 0; i < density; ++i) w &= rng();
    return w;
}

// Frame intact, any types inside it (PURPLE stores as EMPTY), columns filled
// to random heights with random holes, sometimes cells hanging above.
Cells random_cells(std::mt19937_64& rng) {
    Cells c{};
    const unsigned colours = 2 + rng() % 3;
    const unsigned hole_in = 2 + rng() % 12;
    for (std::uint64_t x = 0; x < 8; ++x) {
        const std::uint64_t top = 1 + rng() % 15;
        for (std::uint64_t y = 0; y < 16; ++y) {
            std::uint8_t t = 0;
            if (x == 0 || x == 7 || y == 0 || y == 15) {
                t = 2;  // WALL
            } else if (y >= top && rng() % hole_in != 0) {
                const unsigned r = rng() % 24;
                t = r < 1 ? 1 : r < 2 ? 3 : r < 3 ? 2 : static_cast<std::uint8_t>(4 + rng() % colours);
            }
            c[16 * x + y] = t;
        }
    }
    return c;
}

TEST(BackendTest, EveryPlaneOperationGivesTheSameBitsOnRandomWords) {
    std::mt19937_64 rng(27);
    for (int i = 0; i < 5000 && !HasFatalFailure(); ++i) {
        backend_probe::PlaneInput in{};
        // Dense and sparse sets alike: floods, seeds and holes need both.
        in.a_low = sparse(rng, i % 4);
        in.a_high = sparse(rng, (i / 4) % 4);
        in.b_low = sparse(rng, (i / 16) % 4);
        in.b_high = sparse(rng, (i / 2) % 4);
        for (std::size_t j = 0; j < 16; ++j) {
            in.byte[j] = static_cast<std::uint8_t>(rng() % 16);
            in.bit[j] = static_cast<std::uint8_t>(i % 2 ? 1u << (rng() % 8) : rng());
        }
        expect_same(tavik::plane_log(in), tavik_portable::plane_log(in), "words " + std::to_string(i));
    }
}

TEST(BackendTest, BothBackendsBuildTheSameCorpusAndPlayItTheSameWay) {
    const std::vector<Cells> corpus = tavik::corpus_cells();
    ASSERT_EQ(corpus, tavik_portable::corpus_cells());
    for (std::size_t i = 0; i < corpus.size() && !HasFatalFailure(); ++i)
        expect_same(tavik::field_log(corpus[i]), tavik_portable::field_log(corpus[i]),
                    "corpus field " + std::to_string(i));
}

TEST(BackendTest, RandomFieldsChainSearchAndObserveTheSameWay) {
    std::mt19937_64 rng(2027);
    for (int i = 0; i < 1500 && !HasFatalFailure(); ++i) {
        const Cells cells = random_cells(rng);
        expect_same(tavik::field_log(cells), tavik_portable::field_log(cells), "random field " + std::to_string(i));
    }
}

}  // namespace

#endif
