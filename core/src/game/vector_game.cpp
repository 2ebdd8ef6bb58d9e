// Batch stepping: each game's step and observation are independent, so the
// pool hands out chunks of games and every thread writes only its own rows.
#include "game/vector_game.hpp"

#include <cstring>

#include "cpu_hints.hpp"
#include "game/observation.hpp"
#include "hand.hpp"

namespace tavik {

namespace {

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
    std::int8_t* const mask = out.at<tokopuyo_step::MASK>();
    each_line(mask + begin * Hand::COUNT, mask + end * Hand::COUNT, fetch_for_write);
    each_line(ended_.data() + begin, ended_.data() + end, fetch_for_write);
    each_line(actions + begin, actions + end, fetch_for_read);
}

VectorGame::VectorGame(const VectorGameConfig& config)
    : config_(config), ended_(config.games, 0), pool_(config.threads) {
    games_.reserve(config.games);
    for (std::size_t i = 0; i < config.games; ++i) {
        // splitmix64: consecutive roots give unrelated chains.
        const std::uint64_t seed = splitmix64_at(config.entropy, i);
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
    using namespace tokopuyo_step;
    const Game& g = games_[i].game;
    // The observations are int8 for their spaces; the bytes are the same 0s and 1s.
    const std::size_t field_bytes = observation::field_bytes(config_.colours);
    auto* field = reinterpret_cast<std::uint8_t*>(out.at<FIELD>());
    observation::write_field(g.field(), config_.colours, field + i * field_bytes);
    const std::size_t pair_bytes = 2 * config_.colours;
    std::uint8_t* pairs = reinterpret_cast<std::uint8_t*>(out.at<PAIRS>()) + i * config_.visible * pair_bytes;
    for (std::size_t k = 0; k < config_.visible; ++k) {
        observation::write_pair(g.pair(k), config_.colours, pairs + k * pair_bytes);
    }
    observation::write_mask(g.legal_mask(), out.at<MASK>() + i * Hand::COUNT);
}

void VectorGame::reset(std::optional<std::span<const std::uint64_t>> seeds, const StepOutput& out) {
    for (std::size_t i = 0; i < games_.size(); ++i) {
        start(i, seeds ? (*seeds)[i] : games_[i].next_seed);
        write(i, out);
        using namespace tokopuyo_step;
        out.at<REWARD>()[i] = 0;
        out.at<TERMINATED>()[i] = out.at<TRUNCATED>()[i] = out.at<ILLEGAL>()[i] = false;
        out.at<CHAIN>()[i] = 0;
    }
}

std::string Refusal::display(bool name_env) const {
    if (kind == EPISODE_OVER) return "the episode is over: call reset()";
    return "action " + std::to_string(action) + (name_env ? " of environment " + std::to_string(env) : "") +
           " is outside 0.." + std::to_string(Hand::COUNT - 1) + " (an index into Hand.enumerate())";
}

std::optional<Refusal> VectorGame::check(std::span<const std::int64_t> actions) const {
    for (std::size_t i = 0; i < games_.size(); ++i) {
        if (actions[i] < 0 || actions[i] >= static_cast<std::int64_t>(Hand::COUNT)) {
            return Refusal{Refusal::ACTION_OUTSIDE, i, actions[i]};
        }
        if (!config_.autoreset && ended_[i]) return Refusal{Refusal::EPISODE_OVER, i, actions[i]};
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
    std::int64_t chain = 0;
    bool terminated = false, truncated = false, illegal = false;
    if (ended_[i]) {
        start(i, s.next_seed);  // next-step autoreset: the action is ignored
    } else if (!(s.game.legal_mask() >> action & 1)) {
        illegal = terminated = true;
    } else {
        const Move move = s.game.play_legal(Hand::enumerate()[static_cast<std::size_t>(action)]);
        reward = static_cast<double>(move.score);
        chain = static_cast<std::int64_t>(move.chain);
        terminated = move.over;
        truncated = !terminated && config_.max_pairs != 0 && s.game.turn() >= config_.max_pairs;
    }
    ended_[i] = terminated || truncated;
    using namespace tokopuyo_step;
    out.at<REWARD>()[i] = reward;
    out.at<TERMINATED>()[i] = terminated;
    out.at<TRUNCATED>()[i] = truncated;
    out.at<ILLEGAL>()[i] = illegal;
    out.at<CHAIN>()[i] = chain;
    write(i, out);
}

}  // namespace tavik
