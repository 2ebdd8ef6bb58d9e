#include "game/match.hpp"

#include <algorithm>
#include <initializer_list>

#include "game/garbage.hpp"
#include "game/rules.hpp"

namespace tavik {

namespace {

using namespace versus;

// A column's height as the placement counts it: its puyos in the twelve
// visible rows (a settled column holds its fuzzy-row puyos above those).
std::int64_t visible_height(const BitField& field, std::uint64_t x) {
    return static_cast<std::int64_t>(std::min<std::uint64_t>(field.get_height(x), 12));
}

// The pair pushed down onto a column of height h, `rows` rows at least.
std::uint64_t fast_drop(std::int64_t h, std::int64_t free_rows) {
    if (h >= 12) return FULL_COLUMN_PENALTY;
    return fast_frames(static_cast<std::uint64_t>(free_rows));
}

std::int64_t log_event(std::vector<MatchEvent>* log, std::uint64_t frame, unsigned p, MatchEvent::Kind kind,
                       std::initializer_list<std::uint64_t> values, Hand hand = {}) {
    if (!log) return -1;
    MatchEvent e;
    e.frame = frame;
    e.player = static_cast<std::uint8_t>(p);
    e.kind = kind;
    e.hand = hand;
    std::copy(values.begin(), values.end(), e.values.begin());
    log->push_back(e);
    return static_cast<std::int64_t>(log->size() - 1);
}

// The largest of the Python row indices of the lowest empty cell of the
// columns the drop changed (0 for a full one: it changes nothing).
std::uint64_t garbage_rows(const BitField& before, const BitField& after) {
    std::uint64_t rows = 0;
    for (std::uint64_t x = 1; x <= 6; ++x) {
        const std::uint64_t h = before.get_height(x);
        if (h >= 14 || before.get_height(x) == after.get_height(x)) continue;
        rows = std::max(rows, 13 - h);
    }
    return rows;
}

// Player p's own ojama against the ojama waiting for it: pending first, then
// fixed. Returns {cancelled pending, cancelled fixed}; sent keeps the rest.
std::array<std::uint64_t, 2> offset_own(VersusPlayer& me, std::uint64_t& sent) {
    const std::uint64_t pending = std::min(sent, me.pending);
    me.pending -= pending;
    sent -= pending;
    const std::uint64_t fixed = std::min(sent, me.fixed);
    me.fixed -= fixed;
    sent -= fixed;
    return {pending, fixed};
}

}  // namespace

std::uint64_t VersusRules::target_at(std::uint64_t frame) const {
    if (!margin || frame < margin_frame) return target_points;
    const std::uint64_t steps = (frame - margin_frame) / FRAMES_MARGIN_STEP + 1;
    std::uint64_t target = target_points, previous = 0;
    for (std::uint64_t n = 0; n < steps && n < MAX_MARGIN_STEPS && target > 1; ++n) {
        const std::uint64_t current = target;
        target = n == 0 ? target_points * 3 / 4 : previous / 2;
        previous = current;
    }
    return target;
}

std::uint64_t placement_frames(const BitField& field, const Hand& hand) {
    const std::uint64_t x = hand.x;
    const std::uint64_t move = SIDEWAYS_FRAMES[x > rules::SPAWN_X ? x - rules::SPAWN_X : rules::SPAWN_X - x];
    const std::int64_t h = visible_height(field, x);
    switch (hand.rotation) {
        case Rotation::TOP: return move + fast_drop(h, 12 - h) + FRAMES_GROUNDING;
        case Rotation::BOTTOM: return move + fast_drop(h, std::max<std::int64_t>(6, 11 - h)) + FRAMES_GROUNDING;
        default: {
            const std::int64_t other = visible_height(field, hand.rotation == Rotation::LEFT ? x - 1 : x + 1);
            const std::int64_t higher = std::max(h, other);
            const std::uint64_t split = static_cast<std::uint64_t>(h > other ? h - other : other - h);
            return move + fast_drop(higher, std::max<std::int64_t>(3, 12 - higher)) + FRAMES_GROUNDING +
                   (split ? DROP_FRAMES[split] + FRAMES_GROUNDING : 0);
        }
    }
}

std::uint64_t settle_frames(BitField field) {
    std::uint64_t frames = 0;
    for (std::uint64_t n = 1; n < MAX_CHAIN_PASSES; ++n) {
        const BitField::Link link = field.step_link(n);
        if (!link.vanished) break;
        frames += link_frames(link.largest_fall);
    }
    return frames;
}

std::optional<MatchEvent::Kind> MatchEvent::kind_from_name(std::string_view name) {
    for (unsigned k = 0; k < KINDS; ++k)
        if (INFO[k].name == name) return static_cast<Kind>(k);
    return std::nullopt;
}

Match::Match(std::uint64_t seed, unsigned colours, unsigned visible, VersusRules rules,
             const std::array<BitField, 2>& fields, bool record)
    : sequence_(seed, colours), visible_(visible), rules_(rules), start_fields_(fields), record_(record) {
    players_[0].field = fields[0];
    players_[1].field = fields[1];
}

Match::Match(const Match& o)
    : sequence_(o.sequence_),
      visible_(o.visible_),
      rules_(o.rules_),
      start_fields_(o.start_fields_),
      players_(o.players_),
      frame_(o.frame_),
      over_(o.over_),
      record_(o.record_) {
    if (!record_) return;
    events_.reserve(o.events_.size() + LOG_ROOM);
    events_.assign(o.events_.begin(), o.events_.end());
    history_.reserve(o.history_.size() + LOG_ROOM);
    history_.assign(o.history_.begin(), o.history_.end());
}

Match& Match::operator=(const Match& o) {
    if (this != &o) *this = Match(o);
    return *this;
}

bool Match::field_fits(const BitField& field) { return field.is_quiet() && !rules::is_dead(field); }

unsigned Match::due() const {
    if (over_) return 0;
    unsigned out = 0;
    for (unsigned p = 0; p < 2; ++p)
        if (players_[p].phase == VersusPlayer::DECIDE && players_[p].phase_frame == frame_) out |= 1u << p;
    return out;
}

std::uint32_t Match::legal_mask(unsigned p) const { return due() >> p & 1 ? rules::legal_mask(players_[p].field) : 0; }

PlayError Match::check(const std::array<std::optional<Hand>, 2>& hands) const {
    if (over_) return PlayError::OVER;
    const unsigned d = due();
    for (unsigned p = 0; p < 2; ++p) {
        const bool is_due = d >> p & 1;
        if (is_due && !hands[p]) return PlayError::MISSING;
        if (!is_due && hands[p]) return PlayError::NOT_DUE;
    }
    for (unsigned p = 0; p < 2; ++p)
        if (hands[p] && !rules::is_legal(players_[p].field, *hands[p])) return PlayError::ILLEGAL;
    return PlayError::NONE;
}

PlayError Match::play(const std::array<std::optional<Hand>, 2>& hands) {
    const PlayError e = check(hands);
    if (e == PlayError::NONE) play_checked(hands);
    return e;
}

void Match::play_checked(const std::array<std::optional<Hand>, 2>& hands) {
    for (unsigned p = 0; p < 2; ++p) {
        if (!hands[p]) continue;
        VersusPlayer& me = players_[p];
        me.hand = *hands[p];
        me.phase = VersusPlayer::PLACE;
        if (record_) history_.push_back(static_cast<std::uint8_t>(rules::hand_index(me.hand)));
    }
    run_to_decision();
}

std::optional<unsigned> Match::winner() const {
    if (!over_ || (players_[0].lost() && players_[1].lost())) return std::nullopt;
    return players_[0].lost() ? 1u : 0u;
}

void Match::run_to_decision() {
    while (!over_) {
        std::uint64_t decide = UINT64_MAX, next = UINT64_MAX;
        for (const VersusPlayer& me : players_) {
            std::uint64_t& earliest = me.phase == VersusPlayer::DECIDE ? decide : next;
            earliest = std::min(earliest, me.phase_frame);
        }
        // A decision sees the frames before it only.
        if (decide <= next) {
            frame_ = decide;
            return;
        }
        run_frame(next);
    }
}

void Match::run_frame(std::uint64_t f) {
    FrameTotals totals;
    std::vector<MatchEvent>* log = record_ ? &events_ : nullptr;
    for (unsigned p = 0; p < 2; ++p) advance(players_[p], p, f, totals, log);
    exchange(0, f, totals);
    exchange(1, f, totals);
    if (players_[0].lost() || players_[1].lost()) {
        over_ = true;
        frame_ = f;
    }
}

void Match::advance(VersusPlayer& me, unsigned p, std::uint64_t f, FrameTotals& totals,
                    std::vector<MatchEvent>* log) const {
    while (me.phase != VersusPlayer::DECIDE && me.phase != VersusPlayer::LOST && me.phase_frame == f) {
        switch (me.phase) {
            case VersusPlayer::PLACE: {
                const std::uint64_t frames = placement_frames(me.field, me.hand);
                log_event(log, f, p, MatchEvent::PLACE, {frames}, me.hand);
                ++me.turn;
                me.phase = VersusPlayer::GROUND;
                me.phase_frame = f + frames;
                break;
            }
            case VersusPlayer::GROUND:
                rules::place_legal(me.field, me.hand, sequence_.at(me.turn - 1));
                me.link = 0;
                me.phase = VersusPlayer::LINK;
                break;
            case VersusPlayer::LINK: {
                // Link numbers past the score table cannot happen on 72 group cells.
                const BitField::Link link =
                    me.link + 1 < MAX_CHAIN_PASSES ? me.field.step_link(me.link + 1) : BitField::Link{};
                if (!link.vanished) {
                    if (me.link > 0) {
                        me.max_chain = std::max(me.max_chain, me.link);
                        totals.ended[p] = true;
                        totals.end_event[p] = log_event(log, f, p, MatchEvent::CHAIN_END, {me.link, 0});
                    }
                    me.phase = VersusPlayer::GARBAGE;
                    break;
                }
                ++me.link;
                me.score += link.score;
                const std::uint64_t target = rules_.target_at(f);
                const std::uint64_t sent = (me.score - me.consumed) / target;
                me.consumed = me.score / target * target;
                totals.sent[p] = sent;
                log_event(log, f, p, MatchEvent::LINK, {me.link, link.score, sent});
                if (me.field.is_all_clear()) {
                    me.score += rules_.all_clear_bonus;
                    log_event(log, f, p, MatchEvent::ALL_CLEAR, {rules_.all_clear_bonus});
                }
                me.phase_frame = f + link_frames(link.largest_fall);
                break;
            }
            case VersusPlayer::GARBAGE:
                me.phase = VersusPlayer::SETTLE;
                if (me.fixed > 0) {
                    const std::uint64_t n = std::min(me.fixed, rules_.max_ojama_drop);
                    const BitField before = me.field;
                    const std::uint64_t seed = sequence_.seed() ^ ((2 * me.drops + p + 1) * GARBAGE_SEED_STEP);
                    const std::uint64_t dropped = drop_ojama(me.field, n, seed);
                    ++me.drops;
                    me.fixed -= n;
                    log_event(log, f, p, MatchEvent::GARBAGE, {dropped, n - dropped, me.fixed});
                    me.phase_frame = f + garbage_frames(n, garbage_rows(before, me.field));
                }
                break;
            case VersusPlayer::SETTLE:
                if (rules::is_dead(me.field)) {
                    log_event(log, f, p, MatchEvent::LOSE, {});
                    me.phase = VersusPlayer::LOST;
                } else {
                    me.phase = VersusPlayer::DECIDE;
                    me.phase_frame = f + FRAMES_PREPARING_NEXT;
                }
                break;
            case VersusPlayer::DECIDE:
            case VersusPlayer::LOST: break;
        }
    }
}

void Match::exchange(unsigned p, std::uint64_t f, FrameTotals& totals) {
    VersusPlayer& me = players_[p];
    VersusPlayer& them = players_[1 - p];
    if (totals.sent[p] > 0) {
        std::uint64_t rest = totals.sent[p];
        const auto [pending, fixed] = offset_own(me, rest);
        them.pending += rest;
        log_event(record_ ? &events_ : nullptr, f, p, MatchEvent::OFFSET, {totals.sent[p], pending, fixed, rest});
    }
    if (totals.ended[p]) {
        const std::uint64_t fixed = them.pending;
        them.fixed += fixed;
        them.pending = 0;
        if (totals.end_event[p] >= 0) events_[static_cast<std::size_t>(totals.end_event[p])].values[1] = fixed;
    }
}

std::uint64_t Match::next_frame(unsigned p) const {
    VersusPlayer me = players_[p];
    while (me.phase != VersusPlayer::DECIDE && me.phase != VersusPlayer::LOST) {
        FrameTotals totals;
        advance(me, p, me.phase_frame, totals, nullptr);
        offset_own(me, totals.sent[p]);
    }
    return me.phase_frame;
}

Game Match::game(unsigned p) const {
    const VersusPlayer& me = players_[p];
    return Game::from_parts(sequence_, visible_, rules_.all_clear_bonus, me.field, me.turn, me.score, me.max_chain,
                            me.lost(), 0);
}

}  // namespace tavik
