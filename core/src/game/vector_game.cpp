// Batch stepping: each game's step and observation are independent, so the
// pool hands out chunks of games and every thread writes only its own rows.
#include "game/vector_game.hpp"

#include <immintrin.h>

#include <cstring>

#include "game/observation.hpp"
#include "hand.hpp"

namespace tavik {

namespace {

// Byte k = bit k of the mask: bytes 0..15, then 6..21 over the same place.
void write_mask(std::uint32_t legal, std::int8_t* out) {
    const __m128i bits = _mm_set1_epi32(static_cast<int>(legal));
    auto bytes_from = [&](__m128i which_byte, __m128i bit) {
        const __m128i spread = _mm_shuffle_epi8(bits, which_byte);
        return _mm_min_epu8(_mm_and_si128(spread, bit), _mm_set1_epi8(1));
    };
    const __m128i low = bytes_from(_mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1),
                                   _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128));
    const __m128i high = bytes_from(_mm_setr_epi8(0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2),
                                    _mm_setr_epi8(64, -128, 1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 6), high);
}

constexpr std::uintptr_t LINE = 64;

// PREFETCHW: the line comes owned, ready for the write that follows (a plain
// prefetch would bring it shared, and the write would wait again).
void fetch_for_write(std::uintptr_t line) { asm volatile("prefetchw %0" ::"m"(*reinterpret_cast<const char*>(line))); }
void fetch_for_read(std::uintptr_t line) { _mm_prefetch(reinterpret_cast<const char*>(line), _MM_HINT_T0); }

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
