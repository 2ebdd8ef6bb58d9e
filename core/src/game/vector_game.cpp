// Batch stepping: each game's step and observation are independent, so the
// pool hands out chunks of games and every thread writes only its own rows.
#include "game/vector_game.hpp"

#include <array>
#include <cstring>

#include "cpu_hints.hpp"
#include "field/plane.hpp"
#include "game/observation.hpp"
#include "hand.hpp"

namespace tavik {

namespace {

// Byte k = bit k of the mask: bytes 0..15, then 6..21 over the same place,
// each a byte gather from the mask's bytes and a bit test.
constexpr std::array<std::uint8_t, 16> MASK_LOW_BYTE = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1};
constexpr std::array<std::uint8_t, 16> MASK_LOW_BIT = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
constexpr std::array<std::uint8_t, 16> MASK_HIGH_BYTE = {0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2};
constexpr std::array<std::uint8_t, 16> MASK_HIGH_BIT = {64, 128, 1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32};

void write_mask(std::uint32_t legal, std::int8_t* out) {
    const Plane bits(legal, 0);
    auto* bytes = reinterpret_cast<std::uint8_t*>(out);
    bits.bit_bytes(MASK_LOW_BYTE, MASK_LOW_BIT).store(bytes);
    bits.bit_bytes(MASK_HIGH_BYTE, MASK_HIGH_BIT).store(bytes + 6);
}

constexpr std::uintptr_t LINE = 64;

// The write prefetch brings the line owned, ready for the write that follows
// (a plain prefetch would bring it shared, and the write would wait again).
void fetch_for_write(std::uintptr_t line) { prefetch_for_write(reinterpret_cast<const void*>(line)); }
void fetch_for_read(std::uintptr_t line) { prefetch_for_read(reinterpret_cast<const void*>(line)); }

// Calls fetch on each line that [from, to) touches.
template <class Fetch>
void each_line(const void* from, const void* to, Fetch&& fetch) {
    const auto end = reinterpret_cast<std::uintptr_t>(to);
    for (std::uintptr_t line = reinterpret_cast<std::uintptr_t>(from) & ~(LINE - 1); line < end; line += LINE) {
        fetch(line);
    }
}

}  // namespace

void VectorGame::fetch_lines_of(std::size_t begin, std::size_t end, const std::int64_t* actions,
                                const StepOutput& out) const {
    each_line(out.mask + begin * ACTIONS, out.mask + end * ACTIONS, fetch_for_write);
    each_line(ended_.data() + begin, ended_.data() + end, fetch_for_write);
    each_line(actions + begin, actions + end, fetch_for_read);
}

std::uint64_t VectorGame::next_seed(std::uint64_t seed) {
    // splitmix64: consecutive seeds (s, s + 1, ...) give unrelated chains.
    std::uint64_t z = seed + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

VectorGame::VectorGame(std::size_t games, VectorGameConfig config, std::size_t threads,
                       std::span<const std::uint64_t> entropy)
    : config_(config), ended_(games, 0), pool_(threads) {
    games_.reserve(games);
    for (std::size_t i = 0; i < games; ++i) {
        const std::uint64_t seed = entropy[i];
        games_.push_back(Slot{Game(seed, config.colours, config.visible), next_seed(seed)});
    }
}

void VectorGame::start(std::size_t i, std::uint64_t seed) {
    Slot& s = games_[i];
    s.game = Game(seed, config_.colours, config_.visible);
    s.next_seed = next_seed(seed);
    ended_[i] = false;
}

void VectorGame::write(std::size_t i, const StepOutput& out) const {
    const Game& g = games_[i].game;
    const std::size_t field_bytes = observation::field_bytes(config_.colours);
    observation::write_field(g.field(), config_.colours, out.field + i * field_bytes);
    const std::size_t pair_bytes = 2 * config_.colours;
    std::uint8_t* pairs = out.pairs + i * config_.visible * pair_bytes;
    for (std::size_t k = 0; k < config_.visible; ++k) {
        observation::write_pair(g.pair(k), config_.colours, pairs + k * pair_bytes);
    }
    write_mask(g.legal_mask(), out.mask + i * ACTIONS);
}

void VectorGame::reset(std::optional<std::span<const std::uint64_t>> seeds, const StepOutput& out) {
    for (std::size_t i = 0; i < games_.size(); ++i) {
        start(i, seeds ? (*seeds)[i] : games_[i].next_seed);
        write(i, out);
        out.reward[i] = 0;
        out.terminated[i] = out.truncated[i] = out.illegal[i] = false;
        out.chain[i] = 0;
    }
}

std::optional<std::string> VectorGame::check(std::span<const std::int64_t> actions) const {
    for (std::size_t i = 0; i < games_.size(); ++i) {
        if (actions[i] < 0 || actions[i] >= static_cast<std::int64_t>(ACTIONS)) {
            return "action " + std::to_string(actions[i]) + " of environment " + std::to_string(i) +
                   " is outside 0..21 (an index into Hand.enumerate())";
        }
        if (!config_.autoreset && ended_[i]) return std::string("the episode is over: call reset()");
    }
    return std::nullopt;
}

bool VectorGame::playing(bool* out) const {
    bool any = false;
    for (std::size_t i = 0; i < games_.size(); ++i) any |= out[i] = !ended_[i];
    return any;
}

void VectorGame::step_one(std::size_t i, std::int64_t action, const StepOutput& out) {
    Slot& s = games_[i];
    double reward = 0;
    std::int32_t chain = 0;
    bool terminated = false, truncated = false, illegal = false;
    if (ended_[i]) {
        start(i, s.next_seed);  // next-step autoreset: the action is ignored
    } else if (!(s.game.legal_mask() >> action & 1)) {
        illegal = terminated = true;
    } else {
        const Move move = s.game.play_legal(Hand::enumerate()[static_cast<std::size_t>(action)]);
        reward = static_cast<double>(move.score);
        chain = static_cast<std::int32_t>(move.chain);
        terminated = move.over;
        truncated = !terminated && config_.max_pairs != 0 && s.game.turn() >= config_.max_pairs;
    }
    ended_[i] = terminated || truncated;
    out.reward[i] = reward;
    out.terminated[i] = terminated;
    out.truncated[i] = truncated;
    out.illegal[i] = illegal;
    out.chain[i] = chain;
    write(i, out);
}

}  // namespace tavik
