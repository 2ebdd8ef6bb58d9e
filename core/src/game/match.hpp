#pragma once
// The two-player match: both fields, their turns and the ojama between them,
// frame by frame. A plain value like Game: copy it to branch a search.
//
// A player's turn after its decision at frame t:
//
//   t        place       the hand is chosen; the pair falls
//   g        link 1      t + placement_frames: the pair grounds, link 1 is scored
//   g + d1   link 2      each link lasts link_frames(largest fall)
//   e        chain_end   the pass that vanishes nothing (e = g without a chain)
//   e        garbage     fixed ojama fall (at most max_ojama_drop)
//   e2       lose?       e + garbage_frames; column 3, row 3 taken loses
//   e2 + 12              the next decision
//
// At the end of every frame, player 0 first, the ojama a player's link sent
// in it cancel its own pending, then its own fixed ojama, the rest becomes
// the opponent's pending; a chain that ended in it fixes the opponent's pending.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "field/bit_field.hpp"
#include "game/game.hpp"
#include "game/pair_sequence.hpp"
#include "hand.hpp"

namespace tavik {

namespace versus {

inline constexpr std::uint64_t FRAMES_PER_SECOND = 60;
inline constexpr std::uint64_t FRAMES_VANISH = 50;
inline constexpr std::uint64_t FRAMES_GROUNDING = 20;
inline constexpr std::uint64_t FRAMES_PREPARING_NEXT = 12;
inline constexpr std::uint64_t FRAMES_MARGIN_STEP = 16 * FRAMES_PER_SECOND;
inline constexpr std::uint64_t MAX_MARGIN_STEPS = 14;
// Frames to fall n rows, by kind of fall: a pair pushed down, a puyo let go.
inline constexpr std::uint64_t fast_frames(std::uint64_t rows) { return 2 * rows; }
inline constexpr std::array<std::uint64_t, 16> DROP_FRAMES = {0,  10, 16, 22, 24, 28, 32, 34,
                                                              36, 40, 42, 44, 46, 48, 50, 52};
inline constexpr std::uint64_t SIDEWAYS_FRAMES[6] = {0, 4, 6, 8, 10, 12};  // by columns from the spawn
inline constexpr std::uint64_t FULL_COLUMN_PENALTY = 6;
// Drop k of player p falls with seed ^ ((2k + p + 1) * GARBAGE_SEED_STEP).
inline constexpr std::uint64_t GARBAGE_SEED_STEP = 0x9E3779B97F4A7C15ULL;

}  // namespace versus

struct VersusRules {
    std::uint64_t target_points = 70;
    bool margin = true;                    // false: the target never falls
    std::uint64_t margin_frame = 96 * 60;  // the first frame at or after margin_time
    double margin_time = 96.0;             // seconds, kept as given
    std::uint64_t all_clear_bonus = 2100;
    std::uint64_t max_ojama_drop = 30;

    std::uint64_t target_at(std::uint64_t frame) const;
    bool operator==(const VersusRules&) const = default;
};

// Frames from the decision to the grounding of a legal hand.
std::uint64_t placement_frames(const BitField& field, const Hand& hand);
// One chain link: the vanish, and the fall after it when anything falls.
inline constexpr std::uint64_t link_frames(std::uint64_t largest_fall) {
    return versus::FRAMES_VANISH + (largest_fall ? versus::fast_frames(largest_fall) + versus::FRAMES_GROUNDING : 0);
}
// Frames of the chain a placed field fires (0 when nothing vanishes).
std::uint64_t settle_frames(BitField field);
// Frames of n ojama falling `rows` rows at most.
inline constexpr std::uint64_t garbage_frames(std::uint64_t n, std::uint64_t rows) {
    return versus::DROP_FRAMES[rows] + (n <= 3 ? 8 : n <= 18 ? 24 : 32);
}

struct MatchEvent {
    enum Kind : std::uint8_t { PLACE, LINK, ALL_CLEAR, OFFSET, CHAIN_END, GARBAGE, LOSE };
    static constexpr unsigned KINDS = 7;
    // The kind's name and the names of its values, in order: the one table
    // the binding's attributes, dicts and reprs are made from.
    struct KindInfo {
        std::string_view name;
        bool has_hand;  // PLACE: the hand comes before the values
        unsigned count;
        std::array<std::string_view, 4> values;
    };
    static constexpr std::array<KindInfo, KINDS> INFO = {{
        {"place", true, 1, {"frames"}},
        {"link", false, 3, {"chain", "score", "sent"}},
        {"all_clear", false, 1, {"bonus"}},
        {"offset", false, 4, {"sent", "cancel_pending", "cancel_fixed", "to_opponent"}},
        {"chain_end", false, 2, {"chain", "fixed"}},
        {"garbage", false, 3, {"dropped", "lost", "remaining"}},
        {"lose", false, 0, {}},
    }};
    static std::optional<Kind> kind_from_name(std::string_view name);

    std::uint64_t frame = 0;
    std::uint8_t player = 0;
    Kind kind = PLACE;
    Hand hand{};  // PLACE only
    std::array<std::uint64_t, 4> values{};

    const KindInfo& info() const { return INFO[kind]; }
    bool operator==(const MatchEvent&) const = default;
};

// One side of a match.
struct VersusPlayer {
    // Where the turn is: the step due at `phase_frame`.
    enum Phase : std::uint8_t { DECIDE, PLACE, GROUND, LINK, GARBAGE, SETTLE, LOST };

    BitField field;
    std::uint64_t turn = 0;
    std::uint64_t score = 0;
    std::uint64_t consumed = 0;
    std::uint64_t pending = 0;
    std::uint64_t fixed = 0;
    std::uint64_t drops = 0;  // garbage drops so far: picks each drop's seed
    std::uint64_t max_chain = 0;
    Phase phase = DECIDE;
    std::uint64_t phase_frame = 0;
    std::uint64_t link = 0;  // links of the running chain
    Hand hand{};             // the decided hand, from PLACE to GROUND

    bool lost() const { return phase == LOST; }
    bool operator==(const VersusPlayer&) const = default;
};

enum class PlayError : std::uint8_t { NONE, OVER, MISSING, NOT_DUE, ILLEGAL };

// What a turn's steps report besides events (the batch reads these).
struct FrameTotals {
    std::array<std::uint64_t, 2> sent{};  // ojama a link sent in the frame
    std::array<bool, 2> ended{};          // a chain ended in the frame
    std::array<std::int64_t, 2> end_event{-1, -1};
};

class Match {
public:
    explicit Match(std::uint64_t seed = 0, unsigned colours = 4, unsigned visible = 3, VersusRules rules = {},
                   const std::array<BitField, 2>& fields = {}, bool record = true);

    // A starting field the match accepts: settled, nothing to vanish, not lost.
    static bool field_fits(const BitField& field);

    // The frame of the next decision (of the loss once over).
    std::uint64_t frame() const { return frame_; }
    // Bit p set when player p decides at frame().
    unsigned due() const;
    std::uint32_t legal_mask(unsigned p) const;
    // Checks what play() would refuse; NONE when it would play.
    PlayError check(const std::array<std::optional<Hand>, 2>& hands) const;
    // Plays a hand for each due player (exactly those) and runs every frame
    // before the next decision; nothing changes on an error.
    PlayError play(const std::array<std::optional<Hand>, 2>& hands);
    // For callers that checked: hands legal for exactly the due players.
    void play_checked(const std::array<std::optional<Hand>, 2>& hands);

    bool over() const { return over_; }
    // 0 or 1 once the other lost; nullopt while running and after a draw.
    std::optional<unsigned> winner() const;
    const VersusPlayer& player(unsigned p) const { return players_[p]; }
    // The frame player p would decide at if the opponent did nothing more:
    // its own links still offset its own ojama, its pending stay pending.
    std::uint64_t next_frame(unsigned p) const;
    Pair pair(unsigned p, std::uint64_t k = 0) const { return sequence_.at(players_[p].turn + k); }
    Game game(unsigned p) const;

    const std::vector<MatchEvent>& events() const { return events_; }
    // Hand indices in the order they were decided: enough to rebuild the match.
    const std::vector<std::uint8_t>& history() const { return history_; }
    std::uint64_t seed() const { return sequence_.seed(); }
    const PairSequence& sequence() const { return sequence_; }
    unsigned visible() const { return visible_; }
    const VersusRules& rules() const { return rules_; }
    const std::array<BitField, 2>& start_fields() const { return start_fields_; }
    bool recording() const { return record_; }

    // A copy keeps room in its logs: a copy is mostly made to play on (a
    // search's branch), and a log copied at its exact size would be copied
    // again by the first event played.
    Match(const Match& o);
    Match& operator=(const Match& o);
    Match(Match&&) noexcept = default;
    Match& operator=(Match&&) noexcept = default;
    ~Match() = default;

    bool operator==(const Match&) const = default;

private:
    static constexpr std::size_t LOG_ROOM = 16;

    void run_to_decision();
    void run_frame(std::uint64_t f);
    // Runs the steps of `me` (player p) due at frame f; events go to `log`
    // when it is given.
    void advance(VersusPlayer& me, unsigned p, std::uint64_t f, FrameTotals& totals,
                 std::vector<MatchEvent>* log) const;
    void exchange(unsigned p, std::uint64_t f, FrameTotals& totals);

    PairSequence sequence_;
    unsigned visible_;
    VersusRules rules_;
    std::array<BitField, 2> start_fields_;
    std::array<VersusPlayer, 2> players_;
    std::uint64_t frame_ = 0;
    bool over_ = false;
    bool record_;
    std::vector<MatchEvent> events_;
    std::vector<std::uint8_t> history_;
};

}  // namespace tavik
