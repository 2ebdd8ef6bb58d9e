// Batch stepping of matches: each match's step and views are independent, so
// the pool hands out chunks of matches and every thread writes only its rows.
#include "game/versus_vector.hpp"

#include <algorithm>
#include <limits>

#include "game/observation.hpp"
#include "game/vector_game.hpp"
#include "hand.hpp"

namespace tavik {

namespace {

constexpr std::uint64_t OPPONENT_STREAM = 0xBB67AE8584CAA73BULL;  // keeps the opponent's stream off the pairs'

std::int32_t clamped(std::uint64_t v) {
    return static_cast<std::int32_t>(std::min<std::uint64_t>(v, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

VersusVectorGame::VersusVectorGame(std::size_t matches, VersusVectorConfig config, std::size_t threads,
                                   std::span<const std::uint64_t> entropy)
    : config_(config), bot_(config.beam_width ? config.beam_width : 1, 3, 1), pool_(threads) {
    slots_.reserve(matches);
    for (std::size_t i = 0; i < matches; ++i) slots_.push_back(Slot{Match(), selfplay::Rng(0), 0, false, 0});
    for (std::size_t i = 0; i < matches; ++i) start(i, entropy[i]);
}

std::uint64_t VersusVectorGame::decisions() const {
    std::uint64_t total = 0;
    for (const Slot& s : slots_) total += s.decisions;
    return total;
}

void VersusVectorGame::start(std::size_t i, std::uint64_t seed) {
    Slot& s = slots_[i];
    s.match = Match(seed, config_.colours, config_.visible, config_.rules, {}, false);
    s.rng = selfplay::Rng(seed ^ OPPONENT_STREAM);
    s.next_seed = VectorGame::next_seed(seed);
    s.ended = false;
}

void VersusVectorGame::reset(std::optional<std::span<const std::uint64_t>> seeds, const VersusStepOutput& out) {
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        start(i, seeds ? (*seeds)[i] : slots_[i].next_seed);
        for (unsigned seat = 0; seat < seats(); ++seat) {
            out.reward[i * seats() + seat] = 0;
            out.illegal[i * seats() + seat] = false;
        }
        out.terminated[i] = out.truncated[i] = false;
        write(i, out);
    }
}

std::optional<std::string> VersusVectorGame::check(std::span<const std::int64_t> actions) const {
    for (std::size_t k = 0; k < actions.size(); ++k) {
        if (actions[k] < 0 || actions[k] >= static_cast<std::int64_t>(ACTIONS))
            return "action " + std::to_string(actions[k]) + " of match " + std::to_string(k / seats()) +
                   " is outside 0..21 (an index into Hand.enumerate())";
    }
    if (!config_.autoreset)
        for (const Slot& s : slots_)
            if (s.ended) return std::string("the match is over: call reset()");
    return std::nullopt;
}

void VersusVectorGame::step(std::span<const std::int64_t> actions, const VersusStepOutput& out) {
    auto work = [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) step_one(i, actions.data() + i * seats(), out);
    };
    pool_.run(slots_.size(), CHUNK, work);
}

Hand VersusVectorGame::opponent_hand(Slot& s) const {
    const Game side = s.match.game(1);
    switch (config_.opponent) {
        case Opponent::GREEDY: return selfplay::choose_greedy(side, s.rng);
        case Opponent::BEAM: return bot_.choose(side);
        default: return selfplay::choose_random(side, s.rng);
    }
}

void VersusVectorGame::step_one(std::size_t i, const std::int64_t* actions, const VersusStepOutput& out) {
    Slot& s = slots_[i];
    double reward[2] = {0, 0};
    bool illegal[2] = {false, false};
    bool terminated = false, truncated = false;
    if (s.ended) {
        start(i, s.next_seed);  // next-step autoreset: the actions are ignored
    } else {
        Match& m = s.match;
        const unsigned due = m.due();
        std::array<std::optional<Hand>, 2> hands;
        for (unsigned p = 0; p < seats(); ++p) {
            if (!(due >> p & 1)) continue;
            const auto a = static_cast<std::size_t>(actions[p]);
            if (m.legal_mask(p) >> a & 1)
                hands[p] = Hand::enumerate()[a];
            else
                illegal[p] = true;
        }
        if (illegal[0] || illegal[1]) {
            terminated = true;
            for (unsigned p = 0; p < 2; ++p) reward[p] = illegal[p] ? -1 : 0;
        } else {
            const bool against = config_.opponent != Opponent::SELF;
            if (against && due >> 1 & 1) hands[1] = opponent_hand(s);
            s.decisions += (hands[0] ? 1 : 0) + (hands[1] ? 1 : 0);
            m.play_checked(hands);
            // The learner decides next: the opponent plays its turns until then.
            while (against && !m.over() && !(m.due() & 1)) {
                m.play_checked({std::nullopt, opponent_hand(s)});
                ++s.decisions;
            }
            if (m.over()) {
                terminated = true;
                if (const std::optional<unsigned> w = m.winner()) {
                    reward[*w] = 1;
                    reward[1 - *w] = -1;
                }
            } else {
                truncated = config_.max_frames != 0 && m.frame() >= config_.max_frames;
            }
        }
    }
    s.ended = terminated || truncated;
    for (unsigned seat = 0; seat < seats(); ++seat) {
        out.reward[i * seats() + seat] = reward[seat];
        out.illegal[i * seats() + seat] = illegal[seat];
    }
    out.terminated[i] = terminated;
    out.truncated[i] = truncated;
    write(i, out);
}

void VersusVectorGame::write(std::size_t i, const VersusStepOutput& out) const {
    const Match& m = slots_[i].match;
    const unsigned colours = config_.colours, visible = config_.visible;
    const std::size_t field_bytes = observation::field_bytes(colours);
    const std::size_t pair_bytes = 2 * colours;
    const unsigned due = m.due();
    const std::uint64_t frame = m.frame();
    std::uint64_t waits[2] = {0, 0};
    if (!m.over())
        for (unsigned p = 0; p < 2; ++p) waits[p] = m.next_frame(p) - frame;
    for (unsigned seat = 0; seat < seats(); ++seat) {
        const std::size_t k = i * seats() + seat;
        const unsigned me = seat, them = 1 - seat;
        observation::write_field(m.player(me).field, colours, out.field + (2 * k) * field_bytes);
        observation::write_field(m.player(them).field, colours, out.field + (2 * k + 1) * field_bytes);
        std::uint8_t* pairs = out.pairs + k * visible * pair_bytes;
        for (unsigned j = 0; j < visible; ++j) observation::write_pair(m.pair(me, j), colours, pairs + j * pair_bytes);
        const std::uint32_t legal = m.legal_mask(me);
        for (std::size_t a = 0; a < ACTIONS; ++a) out.mask[k * ACTIONS + a] = static_cast<std::int8_t>(legal >> a & 1);
        std::int32_t* ojama = out.ojama + k * OJAMA_VALUES;
        ojama[0] = clamped(m.player(me).pending);
        ojama[1] = clamped(m.player(me).fixed);
        ojama[2] = clamped(m.player(them).pending);
        ojama[3] = clamped(m.player(them).fixed);
        out.frames[2 * k] = clamped(waits[me]);
        out.frames[2 * k + 1] = clamped(waits[them]);
        out.due[k] = due >> me & 1;
    }
    out.target[i] = clamped(config_.rules.target_at(frame));
}

}  // namespace tavik
