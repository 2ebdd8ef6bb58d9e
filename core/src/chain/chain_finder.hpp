#pragma once
// Searches for the chains a field can be made to fire, and values them:
//   find_by_extend            complete a small group with 1..3 puyos dropped into one column;
//   find_by_extend_recursive  extend the fields left behind by earlier finds, keeping their triggers;
//   find_by_removal           take one group out, as if it had just vanished.
// Every search reads the field it is given and never changes it. A chain that
// reaches a vanishing 20th pass panics (see ChainResult) and the panic ends the
// whole search: no partial list.
//
// The searches are templates over any FieldImpl; they are instantiated once in
// chain_finder.cpp for the library's fields. Trial chains keep only their
// count and score (chain_score()).
#include <algorithm>
#include <array>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "chain/chain_result.hpp"
#include "field/array_field.hpp"
#include "field/bit_field.hpp"
#include "field/connection.hpp"
#include "field/position.hpp"
#include "hand.hpp"
#include "pair.hpp"
#include "panic.hpp"
#include "puyotype.hpp"

namespace tavik {

template <class F>
struct FoundChain {
    std::uint64_t score = 0;
    std::uint64_t chain = 0;
    F field;                             // as the chain left it
    std::vector<Hand> hands;             // never filled by the searches below
    std::vector<Pair> pairs;             // likewise
    ConnectionList extensions;           // earlier triggers kept in the build (recursive search)
    Connection trigger;                  // the puyos that set the chain off
    std::optional<std::uint64_t> depth;  // 1 for removal finds, absent otherwise

    std::string debug() const;
};

template <class F>
std::string FoundChain<F>::debug() const {
    const auto join = [](const auto& items) {
        std::string out = "[";
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i) out += ", ";
            out += items[i].debug();
        }
        return out + "]";
    };
    std::string out = "FoundChain { score: " + std::to_string(score) + ", chain: " + std::to_string(chain);
    out += ", field: " + field.debug();
    out += ", hands: " + join(hands) + ", pairs: " + join(pairs);
    out += ", extensions: " + debug_list(extensions) + ", trigger: " + trigger.debug();
    out += ", depth: " + (depth ? "Some(" + std::to_string(*depth) + ")" : std::string("None")) + " }";
    return out;
}

template <class F>
using FoundChainList = std::vector<FoundChain<F>>;

// The best find of a search without the finds: highest score, ties to the
// longer chain; all zero when nothing fires.
struct BestFind {
    std::uint64_t score = 0;
    std::uint64_t chain = 0;

    friend bool operator==(const BestFind&, const BestFind&) = default;
};

// Lets a caller end a long search early: `poll(context)` is asked every few
// thousand trial drops and a true answer stops the search. The default never stops.
struct StopCheck {
    bool (*poll)(void*) = nullptr;
    void* context = nullptr;

    bool operator()() const { return poll && poll(context); }
};

// Thrown by a search whose StopCheck said stop. It means the caller asked to
// stop, not that anything failed; everything the search built is freed.
struct SearchStopped {};

class ChainFinder {
public:
    // Unsorted; the order follows the candidates' and is unspecified.
    template <FieldImpl F>
    static FoundChainList<F> find_by_extend(const F& field);
    // The bit field's own, the same finds in the same order: on a quiet field
    // extensions that clear the same cells share the rest of their chain (see
    // best_by_extend below).
    static FoundChainList<BitField> find_by_extend(const BitField& field);

    // The best of find_by_extend's finds, found without building any.
    template <FieldImpl F>
    static BestFind best_by_extend(const F& field);
    // The bit field's own, the same best, of the extensions into the columns
    // set in `columns` (bit x - 1 for column x). On a quiet field (see
    // BitField::is_quiet) extensions that clear the same cells share the rest
    // of their chain: it is simulated once, and not at all when nothing stands
    // on those cells.
    static constexpr std::uint32_t ALL_COLUMNS = 0x3F;
    // Bits 1 to 6: the columns a puyo can be dropped into, as Plane::columns() numbers them.
    static constexpr std::uint64_t PLAYABLE_COLUMNS = 0x7E;
    static BestFind best_by_extend(const BitField& field, std::uint32_t columns = ALL_COLUMNS);
    // The same for a field the caller knows is quiet, without asking it.
    static BestFind best_by_extend_of_quiet(const BitField& field, std::uint32_t columns = ALL_COLUMNS);

    // Every find of depth - 1 and the finds extending them, sorted by score,
    // highest first, equal scores in the order made. Depth 1 is find_by_extend;
    // depth 0 finds nothing. Throws SearchStopped when `stop` says so.
    template <FieldImpl F>
    static FoundChainList<F> find_by_extend_recursive(const F& field, std::uint64_t depth, StopCheck stop = {});

    // In the order of the field's vanishable connections.
    template <FieldImpl F>
    static FoundChainList<F> find_by_removal(const F& field);

    // A trial drop of the extension search: `count` puyos of one colour into column `x`.
    struct Candidate {
        std::uint8_t x;
        std::uint8_t count;
        std::uint8_t type;  // a PuyoType number; raw so the set needs no initialising
        PuyoType puyotype() const { return PuyoType::from_number_unchecked(type); }
    };

    // Distinct (column 0..7, count 1..3, type 0..8) triples in the order first
    // met, so a search yields the same list every time. Fixed capacity:
    // building the set never allocates.
    class CandidateSet {
    public:
        static constexpr std::size_t CAPACITY = 8 * 3 * PuyoType::COUNT;

        void insert(std::uint64_t x, std::uint64_t count, PuyoType t) {
            if (!indexed_) index();
            const std::size_t key = key_of(x, count, t.number());
            const std::uint64_t bit = std::uint64_t{1} << (key % 64);
            if (seen_[key / 64] & bit) return;
            seen_[key / 64] |= bit;
            items_[size_++] = {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(count), t.number()};
        }
        // A triple the caller knows the set does not hold, added without the
        // look-up; the next insert() rebuilds the look-up first.
        void insert_new(std::uint64_t x, std::uint64_t count, PuyoType t) {
            indexed_ = false;
            items_[size_++] = {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(count), t.number()};
        }
        void clear() {
            seen_ = {};
            size_ = 0;
            indexed_ = true;
        }
        const Candidate* begin() const { return items_.data(); }
        const Candidate* end() const { return items_.data() + size_; }
        std::size_t size() const { return size_; }

    private:
        static std::size_t key_of(std::uint64_t x, std::uint64_t count, unsigned type) {
            return (x * 3 + (count - 1)) * PuyoType::COUNT + type;
        }
        void index() {
            seen_ = {};
            for (const Candidate& c : *this) {
                const std::size_t key = key_of(c.x, c.count, c.type);
                seen_[key / 64] |= std::uint64_t{1} << (key % 64);
            }
            indexed_ = true;
        }

        std::array<std::uint64_t, (CAPACITY + 63) / 64> seen_{};
        std::array<Candidate, CAPACITY> items_;
        std::size_t size_ = 0;
        bool indexed_ = true;  // seen_ holds every item (insert_new skips it)
    };

    // The trial drops find_by_extend runs, in the order it runs them.
    template <class F>
    static CandidateSet extension_candidates(const F& field) {
        CandidateSet set;
        collect_candidates(field, set);
        return set;
    }

private:
    static const GroupCells& positions_of(const Connection& c) {
        if (!c.positions) [[unlikely]]
            panic_unwrap_none();
        return *c.positions;
    }

    // Any field: from its vanishable connections. The bit field takes its
    // groups apart on the planes instead and allocates nothing; the set is the
    // same, only its order differs.
    template <class F>
    static void collect_candidates(const F& field, CandidateSet& set);
    static void collect_candidates(const BitField& field, CandidateSet& set);

    // Any field: from its vanishable connections. The bit field walks the same
    // groups in the same order on its planes, and lists a group's cells only
    // for the finds.
    template <class F>
    static FoundChainList<F> removal_search(const F& field);
    static FoundChainList<BitField> removal_search(const BitField& field);

    template <class F>
    static void put_into_columns(F& field, const Connection& c) {
        for (const Position& p : positions_of(c)) field.put(p.x, c.puyotype);
    }

    // The rows a candidate's puyos came to rest in, in its column. Rows, not
    // Positions: g++ copies a Position out of put()'s optional with one
    // 16-byte load right after two 8-byte stores, a stall that cost the
    // corpus search 4%.
    using Drops = std::array<std::uint64_t, 3>;

    // Runs every candidate that places and calls on_find(candidate, drops,
    // chain score, field after the chain) for those that score.
    template <class F, class OnFind>
    static void for_each_extension(const F& field, const CandidateSet& candidates, OnFind&& on_find);

    // for_each_extension for the bit field, limited to `columns` (chain_finder.cpp).
    template <class OnFind>
    static void for_each_bit_extension(const BitField& field, const CandidateSet& candidates, std::uint32_t columns,
                                       OnFind&& on_find);
    // Its way for a quiet field (BitField::is_quiet), where an extension's
    // chain can be told from the cells its first step clears.
    template <class OnFind>
    static void for_each_quiet_extension(const BitField& field, const CandidateSet& candidates, std::uint32_t columns,
                                         OnFind&& on_find);
    // Its way for any other field: each extension placed and run whole.
    template <class OnFind>
    static void for_each_whole_extension(const BitField& field, const CandidateSet& candidates, std::uint32_t columns,
                                         OnFind&& on_find);
    static BestFind best_of_extensions(const BitField& field, std::uint32_t columns, bool quiet);

    static Connection trigger(const Candidate& cand, const Drops& rest) {
        GroupCells cells;
        cells.append(cand.count, [&](std::size_t i) { return Position{cand.x, rest[i]}; });
        return Connection{std::move(cells), cand.count, cand.puyotype()};
    }

    // Asks the StopCheck once per POLL_EVERY ticks, so polling costs a counter.
    class StopPoller {
    public:
        explicit StopPoller(StopCheck check) : check_(check) {}
        void tick(std::uint64_t n = 1) {
            ticks_ += n;
            if (ticks_ < POLL_EVERY) return;
            ticks_ = 0;
            if (check_()) throw SearchStopped{};
        }

    private:
        static constexpr std::uint64_t POLL_EVERY = 4096;
        StopCheck check_;
        std::uint64_t ticks_ = 0;
    };

    template <class F>
    static FoundChainList<F> extend_level(const F& field, const FoundChainList<F>& earlier, StopPoller& poller);
};

template <class F>
void ChainFinder::collect_candidates(const F& field, CandidateSet& set) {
    for (const Connection& c : field.get_vanishable_connections()) {
        if (c.size > 3) continue;
        const std::uint64_t count = 4 - c.size;
        for (const Position& p : positions_of(c)) {
            // Above, left, right: a puyo dropped there can join the group.
            const Position around[] = {{p.x, p.y - 1}, {p.x - 1, p.y}, {p.x + 1, p.y}};
            for (const Position& n : around)
                if (n.x >= 1 && n.x <= 6 &&
                    field.get(n.x, n.y) == PuyoType::EMPTY)  // a holed frame's cells are no column
                    set.insert(n.x, count, c.puyotype);
        }
    }
}

template <class F, class OnFind>
void ChainFinder::for_each_extension(const F& field, const CandidateSet& candidates, OnFind&& on_find) {
    for (const Candidate& cand : candidates) {
        F copy = field;
        Drops rest;
        bool placed = true;
        for (std::uint8_t i = 0; i < cand.count && placed; ++i) {
            const std::optional<Position> p = copy.put(cand.x, cand.puyotype());
            // Row 1 never takes part in a chain: such a trigger is no trigger.
            placed = p && p->y >= 2;
            if (placed) rest[i] = p->y;
        }
        if (!placed) continue;
        const ChainScore result = copy.chain_score();
        if (result.score == 0) continue;
        on_find(cand, rest, result, copy);
    }
}

template <FieldImpl F>
FoundChainList<F> ChainFinder::find_by_extend(const F& field) {
    CandidateSet candidates;
    collect_candidates(field, candidates);
    FoundChainList<F> finds;
    if (candidates.size() == 0) return finds;
    // The finds as plain records first, then the list at its exact size: a
    // list reserved for every candidate cost a search more in malloc than
    // several of its chains.
    struct Record {
        Candidate cand;
        Drops rest;
        ChainScore result;
        F after;
    };
    static_assert(std::is_trivially_copyable_v<Record> && std::is_trivially_destructible_v<Record>);
    alignas(Record) unsigned char storage[CandidateSet::CAPACITY * sizeof(Record)];
    Record* const records = reinterpret_cast<Record*>(storage);
    std::size_t count = 0;
    for_each_extension(field, candidates,
                       [&](const Candidate& cand, const Drops& rest, const ChainScore& result, const F& after) {
                           new (records + count++) Record{cand, rest, result, after};
                       });
    finds.reserve(count);
    for (const Record& r : std::span(records, count))
        finds.emplace_back(r.result.score, r.result.chain, r.after, std::vector<Hand>{}, std::vector<Pair>{},
                           ConnectionList{}, trigger(r.cand, r.rest), std::nullopt);
    return finds;
}

template <FieldImpl F>
BestFind ChainFinder::best_by_extend(const F& field) {
    CandidateSet candidates;
    collect_candidates(field, candidates);
    BestFind best;
    for_each_extension(field, candidates, [&](const Candidate&, const Drops&, const ChainScore& result, const F&) {
        if (result.score > best.score || (result.score == best.score && result.chain > best.chain))
            best = {result.score, result.chain};
    });
    return best;
}

// The finds one level deeper than `earlier`, in the order made.
template <class F>
FoundChainList<F> ChainFinder::extend_level(const F& field, const FoundChainList<F>& earlier, StopPoller& poller) {
    FoundChainList<F> made;
    CandidateSet candidates;
    for (const FoundChain<F>& before : earlier) {
        // Of each extension of the earlier field only its trigger is needed.
        candidates.clear();
        collect_candidates(before.field, candidates);
        poller.tick(candidates.size());
        for_each_extension(before.field, candidates,
                           [&](const Candidate& cand, const Drops& rest, const ChainScore&, const F&) {
                               poller.tick();
                               // Rebuild on the original field: earlier triggers stay as part of the build.
                               F copy = field;
                               for (const Connection& c : before.extensions) put_into_columns(copy, c);
                               put_into_columns(copy, before.trigger);
                               for (std::uint8_t i = 0; i < cand.count; ++i) copy.put(cand.x, cand.puyotype());
                               const ChainScore result = copy.chain_score();
                               if (result.chain <= before.chain) return;
                               ConnectionList extensions;
                               extensions.reserve(before.extensions.size() + 1);
                               extensions = before.extensions;
                               extensions.push_back(before.trigger);
                               made.push_back(FoundChain<F>{result.score,
                                                            result.chain,
                                                            copy,
                                                            {},
                                                            {},
                                                            std::move(extensions),
                                                            trigger(cand, rest),
                                                            std::nullopt});
                           });
    }
    return made;
}

template <FieldImpl F>
FoundChainList<F> ChainFinder::find_by_extend_recursive(const F& field, std::uint64_t depth, StopCheck stop) {
    if (depth == 0) return {};
    StopPoller poller(stop);
    // Level by level rather than by recursion: depth costs no stack.
    FoundChainList<F> finds = find_by_extend(field);
    for (std::uint64_t level = 2; level <= depth; ++level) {
        FoundChainList<F> made = extend_level(field, finds, poller);
        const bool grew = !made.empty();
        finds.reserve(finds.size() + made.size());
        std::move(made.begin(), made.end(), std::back_inserter(finds));
        std::stable_sort(finds.begin(), finds.end(),
                         [](const FoundChain<F>& a, const FoundChain<F>& b) { return a.score > b.score; });
        // A level that adds nothing leaves the same finds, so every later level
        // would add nothing too: stop, or a huge depth would never end.
        if (!grew) break;
    }
    return finds;
}

template <FieldImpl F>
FoundChainList<F> ChainFinder::find_by_removal(const F& field) {
    return removal_search(field);
}

template <class F>
FoundChainList<F> ChainFinder::removal_search(const F& field) {
    ConnectionList connections = field.get_vanishable_connections();
    FoundChainList<F> finds;
    for (Connection& c : connections) {
        F copy = field;
        for (const Position& p : positions_of(c)) copy.set(p.x, p.y, PuyoType::EMPTY);
        const ChainScore result = copy.chain_score();
        if (result.score == 0) continue;
        const std::uint64_t size = c.positions->size();
        finds.push_back(FoundChain<F>{
            result.score, result.chain, copy, {}, {}, {}, Connection{std::move(c.positions), size, c.puyotype}, 1});
    }
    return finds;
}

// Built once in chain_finder.cpp. The template arguments name the template:
// without them clang takes find_by_extend(const BitField&), the overload, and refuses.
extern template struct FoundChain<BitField>;
extern template FoundChainList<BitField> ChainFinder::find_by_extend<BitField>(const BitField&);
extern template FoundChainList<BitField> ChainFinder::find_by_extend_recursive(const BitField&, std::uint64_t,
                                                                               StopCheck);
extern template FoundChainList<BitField> ChainFinder::find_by_removal(const BitField&);
extern template BestFind ChainFinder::best_by_extend(const BitField&);
extern template struct FoundChain<ArrayField>;
extern template FoundChainList<ArrayField> ChainFinder::find_by_extend(const ArrayField&);
extern template FoundChainList<ArrayField> ChainFinder::find_by_extend_recursive(const ArrayField&, std::uint64_t,
                                                                                 StopCheck);
extern template FoundChainList<ArrayField> ChainFinder::find_by_removal(const ArrayField&);
extern template BestFind ChainFinder::best_by_extend(const ArrayField&);

}  // namespace tavik
