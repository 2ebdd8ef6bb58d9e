// The probe of one backend (see probe.hpp): every Plane, PlanePair and
// HoleCloser operation on given words, and every field operation that reads
// the planes on given fields.
#include "backend_probe/probe.hpp"

#include <algorithm>
#include <tuple>

#include "chain/chain_finder.hpp"
#include "corpus.hpp"
#include "field/bit_field.hpp"
#include "game/observation.hpp"
#include "hand.hpp"

namespace tavik {

TAVIK_PROBE_DECLARATIONS

namespace {

using backend_probe::Cells;
using backend_probe::Log;

void add_plane(Log& log, const std::string& label, Plane p) {
    log.add(label + ".low", p.low());
    log.add(label + ".high", p.high());
}

void add_planes(Log& log, const std::string& label, const BitField& f) {
    for (std::size_t k = 0; k < 3; ++k) add_plane(log, label + ".p" + std::to_string(k), f.plane(k));
}

template <class Groups>
void add_groups(Log& log, const std::string& label, const Groups& groups) {
    std::vector<std::tuple<unsigned, std::uint64_t, std::vector<std::uint64_t>>> sorted;
    for (const Connection& c : groups) {
        std::vector<std::uint64_t> cells;
        if (c.positions)
            for (const Position& p : *c.positions) cells.push_back(16 * p.x + p.y);
        std::sort(cells.begin(), cells.end());
        sorted.emplace_back(c.puyotype.number(), c.size, std::move(cells));
    }
    std::sort(sorted.begin(), sorted.end());
    log.add(label + ".count", sorted.size());
    for (const auto& [type, size, cells] : sorted) {
        log.add(label + ".type", type);
        log.add(label + ".size", size);
        for (std::uint64_t cell : cells) log.add(label + ".cell", cell);
    }
}

void add_bytes(Log& log, const std::string& label, const std::vector<std::uint8_t>& bytes) {
    for (std::uint8_t b : bytes) log.add(label, b);
}

}  // namespace

backend_probe::Log plane_log(const backend_probe::PlaneInput& input) {
    Log log;
    const Plane a(input.a_low, input.a_high), b(input.b_low, input.b_high);
    // The floor of every lane kept out: at most 15 holes to a lane.
    const Plane holes = b.and_not(Plane(0x0001'0001'0001'0001, 0x0001'0001'0001'0001));
    for (const auto& [name, p] : {std::pair<const char*, Plane>{"a", a}, {"b", b}}) {
        const std::string n = name;
        add_plane(log, n + ".up", p.up());
        add_plane(log, n + ".down", p.down());
        add_plane(log, n + ".left", p.left());
        add_plane(log, n + ".right", p.right());
        add_plane(log, n + ".neighbourhood", p.neighbourhood());
        add_plane(log, n + ".not", ~p);
        add_plane(log, n + ".filled_below_top", p.filled_below_top());
        add_plane(log, n + ".lowest_seed", p.lowest_seed());
        if (!p.is_empty()) add_plane(log, n + ".flood_fill", p.lowest_seed().flood_fill(p));
        log.add(n + ".columns", p.columns());
        log.add(n + ".popcount", p.popcount());
        log.add(n + ".largest_lane_count", p.largest_lane_count());
        log.add(n + ".is_empty", p.is_empty());
        const auto bytes = p.bytes();
        add_plane(log, n + ".from_bytes", Plane::from_bytes(bytes));
        for (std::uint8_t byte : bytes) log.add(n + ".bytes", byte);
        std::vector<std::uint8_t> flags(16);
        p.bit_bytes(input.byte, input.bit).store(flags.data());
        add_bytes(log, n + ".bit_bytes", flags);
        p.bit_bytes(input.byte, input.bit).shifted_left(2).store(flags.data());
        add_bytes(log, n + ".bit_bytes<<2", flags);
        p.for_each_cell([&](std::uint64_t x, std::uint64_t y) { log.add(n + ".cell", 16 * x + y); });
    }
    add_plane(log, "holes.lanes_shortened_by_count", holes.lanes_shortened_by_count());
    add_plane(log, "a&b", a & b);
    add_plane(log, "a|b", a | b);
    add_plane(log, "a^b", a ^ b);
    add_plane(log, "a.and_not(b)", a.and_not(b));
    log.add("a.intersects(b)", a.intersects(b));
    log.add("a.is_subset_of(b)", a.is_subset_of(b));
    log.add("(a&b).is_subset_of(b)", (a & b).is_subset_of(b));
    log.add("a==b", a == b);
    for (const auto& [name, area] :
         {std::pair<const char*, Plane>{"count_area", masks::COUNT_AREA}, {"everywhere", ~Plane()}, {"a", a}}) {
        const HoleCloser closer(holes, area);
        add_plane(log, std::string("close.") + name + ".a", closer.close(a));
        add_plane(log, std::string("close.") + name + ".b", closer.close(b));
    }
    const PlanePair pair(a, b);
    const PlanePair other(b, a.and_not(b));
    for (const auto& [name, q] : {std::pair<const char*, PlanePair>{"up", pair.up()},
                                  {"down", pair.down()},
                                  {"left", pair.left()},
                                  {"right", pair.right()},
                                  {"beside", pair.beside()},
                                  {"neighbourhood", pair.neighbourhood()},
                                  {"and", pair & other},
                                  {"or", pair | other},
                                  {"and_not", pair.and_not(other)}}) {
        add_plane(log, std::string("pair.") + name + ".first", q.first());
        add_plane(log, std::string("pair.") + name + ".second", q.second());
        log.add(std::string("pair.") + name + ".is_empty", q.is_empty());
        log.add(std::string("pair.") + name + ".popcounts", q.popcounts()[0] | q.popcounts()[1] << 8);
    }
    for (std::uint64_t x = 0; x < 8; ++x)
        for (std::uint64_t y = 0; y < 16; ++y) add_plane(log, "cell", Plane::cell(x, y));
    std::vector<std::int8_t> mask(22);
    observation::write_mask(static_cast<std::uint32_t>(input.a_low & 0x3F'FFFF), mask.data());
    for (std::int8_t m : mask) log.add("write_mask", static_cast<std::uint64_t>(m));
    add_plane(log, "all_if(0)", Plane::all_if(0));
    add_plane(log, "all_if(1)", Plane::all_if(1));
    return log;
}

backend_probe::Log field_log(const backend_probe::Cells& cells) {
    Log log;
    BitField field;
    for (std::uint64_t x = 0; x < 8; ++x)
        for (std::uint64_t y = 0; y < 16; ++y) field.set(x, y, PuyoType::from_number_unchecked(cells[16 * x + y]));
    add_planes(log, "field", field);
    log.add("is_quiet", field.is_quiet());
    add_groups(log, "vanishable", field.get_vanishable_connections());
    for (unsigned colours = 1; colours <= observation::MAX_COLOURS; ++colours) {
        std::vector<std::uint8_t> bytes(observation::field_bytes(colours));
        observation::write_field(field, colours, bytes.data());
        add_bytes(log, "observation" + std::to_string(colours), bytes);
    }
    std::vector<std::uint8_t> types(observation::ALL_ROWS * observation::COLUMNS);
    observation::write_types(field, types.data());
    add_bytes(log, "types", types);
    log.add("valid_types", observation::valid_types(types.data()));
    for (unsigned colours = 1; colours <= observation::MAX_COLOURS; ++colours) {
        std::vector<std::uint8_t> bytes(observation::field_bytes(colours));
        observation::write_field_from_types(types.data(), colours, bytes.data());
        add_bytes(log, "observation from types" + std::to_string(colours), bytes);
    }
    for (std::uint8_t& t : types) t = static_cast<std::uint8_t>(t + (t > 3));  // some past GREEN
    log.add("valid_types shifted", observation::valid_types(types.data()));
    {
        BitField f = field;
        add_groups(log, "vanish", f.vanish());
        add_planes(log, "after vanish", f);
        f.drop();
        add_planes(log, "after vanish and drop", f);
    }
    {
        BitField f = field;
        for (std::uint64_t n = 1; n <= 20; ++n) {
            const ChainStepResult step = f.step_chain(n);
            log.add("step_chain.chain", step.chain);
            log.add("step_chain.score", step.score());
            add_groups(log, "step_chain.groups", step.connections);
            add_planes(log, "step_chain.field", f);
            if (step.chain == 0) break;
        }
    }
    {
        BitField f = field;
        const ChainResult result = f.chain();
        log.add("chain.chain", result.chain());
        log.add("chain.score", result.score());
        for (const ChainStepResult& step : result.steps()) {
            log.add("chain.step.score", step.score());
            add_groups(log, "chain.step.groups", step.connections);
        }
        add_planes(log, "chain.field", f);
        BitField scored = field;
        const ChainScore score = scored.chain_score();
        log.add("chain_score.chain", score.chain);
        log.add("chain_score.score", score.score);
    }
    for (const FoundChain<BitField>& find : ChainFinder::find_by_extend(field)) {
        log.add("find_by_extend.score", find.score);
        log.add("find_by_extend.chain", find.chain);
        add_planes(log, "find_by_extend.field", find.field);
    }
    const BestFind best = ChainFinder::best_by_extend(field);
    log.add("best_by_extend.score", best.score);
    log.add("best_by_extend.chain", best.chain);
    for (const Hand& hand : Hand::enumerate()) {
        BitField f = field;
        const bool placed = f.put_hand(hand, Pair(PuyoType::RED, PuyoType::GREEN)).is_ok();
        log.add("put_hand.placed", placed);
        add_planes(log, "put_hand.field", f);
        if (placed) {
            for (std::uint64_t x = 0; x < 8; ++x) log.add("put_hand.height", f.get_height(x));
            const ChainScore score = f.chain_score();
            log.add("put_hand.chain", score.chain);
            log.add("put_hand.score", score.score);
        }
    }
    return log;
}

std::vector<backend_probe::Cells> corpus_cells() {
    std::vector<Cells> out;
    for (const BitField& f : bench::corpus()) {
        Cells c{};
        for (std::uint64_t x = 0; x < 8; ++x)
            for (std::uint64_t y = 0; y < 16; ++y) c[16 * x + y] = static_cast<std::uint8_t>(f.get(x, y).number());
        out.push_back(c);
    }
    return out;
}

}  // namespace tavik
