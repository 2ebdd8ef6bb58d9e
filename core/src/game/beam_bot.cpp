// The beam search and the evaluation of BeamBot. Children are made into fixed
// slots (parent rank * 22 + hand index) so threads can fill them in any order
// and the merge and the ranking, done on one thread, see the same list. One
// pass over the threads per level: a second (evaluating after the merge) cost
// a wake-up of every worker per level.
#include "game/beam_bot.hpp"

#include <algorithm>
#include <atomic>
#include <array>
#include <bit>
#include <cmath>
#include <exception>
#include <mutex>
#include <vector>

#include "chain/chain_finder.hpp"
#include "cpu_hints.hpp"
#include "game/rules.hpp"
#include "game/worker_pool.hpp"
#include "panic.hpp"

namespace tavik {

std::uint64_t BeamBot::potential(const BitField& field) {
    return ChainFinder::best_by_extend(field, rules::reachable_columns(field)).score;
}

namespace {

constexpr std::uint32_t NONE = ~std::uint32_t{0};

struct Node {
    BitField field;
    std::int64_t fired = 0;     // fired value summed along the path
    std::uint64_t pending = 0;  // all-clear bonus owed to the next chain
    std::uint32_t made = 0;     // slot index: the tie-break order
    std::uint8_t first = 0;     // the path's first hand, as an index into Hand::enumerate()
};

// What the merge reads of a child, apart from its node: the merge walks all
// children on one thread, and whole nodes would cost it a cache line each.
struct Born {
    std::int64_t fired;
    std::uint32_t entry;  // the child's field in the level's FieldTable; NONE for no child
    std::uint8_t first;   // as the node's
};

// A distinct child of a level, as the next search's cache wants it: which
// nodes are under the chosen hand is known without reading them.
struct Valued {
    std::uint32_t slot;
    std::uint8_t first;
    std::int64_t evaluation;
};

// Every hand loses the game: play the first legal one (the spawn column is
// free while the game goes on, so there is one).
Hand first_legal(std::uint32_t mask) {
    for (std::size_t i = 0; i < Hand::COUNT; ++i)
        if (mask >> i & 1) return Hand::enumerate()[i];
    panic("BeamBot::choose: no legal hand");
}

std::int64_t fired_value(const rules::MoveResult& move) {
    const auto score = static_cast<std::int64_t>(move.score);
    return move.chain >= BeamBot::FIRE_MIN_CHAIN ? score : -score / 2;
}

std::uint64_t field_hash(const BitField& f, std::uint64_t pending) {
    std::uint64_t h = pending * 0x9E3779B97F4A7C15;
    for (std::size_t k = 0; k < 3; ++k) {
        h = (h ^ f.plane(k).low()) * 0xBF58476D1CE4E5B9;
        h = (h ^ f.plane(k).high()) * 0x94D049BB133111EB;
    }
    return h ^ (h >> 31);
}

// The distinct (field, owed bonus) pairs of one level, filled by every thread
// at once, so each distinct field is evaluated once, by the thread that
// inserted it, without a pass between making children and valuing them.
// Which child inserts a field varies with the threads; its evaluation does not,
// since it depends on the field alone. An entry names the inserting child's
// slot, which holds the field.
class FieldTable {
public:
    struct Entry {
        // 3 * level + 0 while being written, + 1 once `slot` is set, + 2 once
        // `evaluation` is; an older level's value (or 0) is a free entry, so a
        // new level clears nothing.
        std::atomic<std::uint32_t> state{0};
        std::uint32_t slot = 0;
        std::int64_t evaluation = 0;  // written by the inserting thread, read after the level
    };

    // Room for `count` insertions; forgets the last level.
    void reset(std::size_t count) {
        std::size_t capacity = 64;
        while (capacity < 3 * count / 2) capacity *= 2;
        if (capacity > capacity_ || writing_ >= ~std::uint32_t{0} - 6) {
            entries_ = std::make_unique<Entry[]>(std::max(capacity, capacity_));
            capacity_ = std::max(capacity, capacity_);
            writing_ = 0;
        }
        writing_ += 3;
    }

    // The entry of the field of slots[slot] (whose field_hash is `hash`), and
    // whether this call inserted it.
    std::pair<std::uint32_t, bool> insert(const Node* slots, std::uint32_t slot, std::uint64_t hash) {
        const Node& child = slots[slot];
        for (std::size_t at = hash & (capacity_ - 1);; at = (at + 1) & (capacity_ - 1)) {
            Entry& e = entries_[at];
            std::uint32_t state = e.state.load(std::memory_order_acquire);
            if (state < writing_ && e.state.compare_exchange_strong(state, writing_, std::memory_order_acquire)) {
                e.slot = slot;
                e.state.store(writing_ + 1, std::memory_order_release);
                return {static_cast<std::uint32_t>(at), true};
            }
            while (state == writing_) state = e.state.load(std::memory_order_acquire);  // a store away
            const Node& other = slots[e.slot];
            if (other.field == child.field && other.pending == child.pending)
                return {static_cast<std::uint32_t>(at), false};
        }
    }

    // Asks for the line of the entry an insertion of this hash starts at.
    void prefetch(std::uint64_t hash) const { prefetch_for_write(&entries_[hash & (capacity_ - 1)]); }

    void set_evaluation(std::uint32_t i, std::int64_t evaluation) {
        entries_[i].evaluation = evaluation;
        entries_[i].state.store(writing_ + 2, std::memory_order_release);
    }
    // The evaluation of entry i, once its inserting thread has written it.
    std::int64_t evaluation_when_set(std::uint32_t i) const {
        while (entries_[i].state.load(std::memory_order_acquire) != writing_ + 2) {}
        return entries_[i].evaluation;
    }
    std::int64_t evaluation(std::uint32_t i) const { return entries_[i].evaluation; }
    std::size_t capacity() const { return capacity_; }

private:
    std::unique_ptr<Entry[]> entries_;
    std::size_t capacity_ = 0;
    std::uint32_t writing_ = 0;
};

// Evaluations of one move's deeper levels, read by the next move: after the
// hand is played, the next search's first two levels remake, for the most
// part, fields the last one valued (the fields under the chosen hand that its
// beam kept). Filled between levels on one thread; read by every thread.
class EvaluationCache {
public:
    // Forgets every entry; room for `count` of them.
    void reset(std::size_t count) {
        std::size_t capacity = 64;
        while (capacity < 3 * count / 2) capacity *= 2;
        if (capacity > entries_.size() || stamp_ == ~std::uint32_t{0}) {
            entries_.assign(std::max(capacity, entries_.size()), Entry{});
            stamp_ = 0;
        }
        ++stamp_;
        size_ = 0;
        limit_ = entries_.size() * 3 / 4;
    }

    const std::int64_t* find(const BitField& field) const {
        if (size_ == 0) return nullptr;
        for (std::size_t at = field_hash(field, 0) & (entries_.size() - 1);; at = (at + 1) & (entries_.size() - 1)) {
            const Entry& e = entries_[at];
            if (e.stamp != stamp_) return nullptr;
            if (e.field == field) return &e.evaluation;
        }
    }

    // Full (three quarters taken) means the rest is left out: a lookup
    // that misses only costs an evaluation.
    void put(const BitField& field, std::int64_t evaluation) {
        if (size_ >= limit_) return;
        for (std::size_t at = field_hash(field, 0) & (entries_.size() - 1);; at = (at + 1) & (entries_.size() - 1)) {
            Entry& e = entries_[at];
            if (e.stamp != stamp_) {
                e = {field, evaluation, stamp_};
                ++size_;
                return;
            }
            if (e.field == field) return;
        }
    }

private:
    struct Entry {
        BitField field;
        std::int64_t evaluation = 0;
        std::uint32_t stamp = 0;  // the reset it was put after; an older one is free
    };
    std::vector<Entry> entries_;
    std::uint32_t stamp_ = 0;
    std::size_t size_ = 0, limit_ = 0;
};

struct Rank {
    std::int64_t value;
    std::uint32_t made;  // also the slot
};

// Higher value first, then the first made: a strict order, as no two nodes share a slot.
bool better(const Rank& a, const Rank& b) { return a.value != b.value ? a.value > b.value : a.made < b.made; }

// Runs work(begin, end) over [0, count) on the pool, or inline without one.
template <class Work>
void run(WorkerPool* pool, std::size_t count, std::size_t chunk, Work&& work) {
    if (pool) {
        pool->run(count, chunk, work);
    } else if (count) {
        work(0, count);
    }
}

// The children of one parent into slots[22 * rank, 22 * rank + 22), each
// field entered in the table and evaluated there when new.
// Only hands [from, to) when a lone parent's children are shared out.
// With `best` (the deepest level), also the best of these children into it,
// valued as the merge would value them: the child an unmerged ranking puts
// first is the one with the most fired value among its equals, the first made
// on a tie, which is the one the merge keeps.
void expand(const Node& parent, std::size_t rank, Pair pair, bool root, std::uint64_t bonus, Node* slots, Born* born,
            FieldTable& table, const EvaluationCache* known, const BotWeights& weights, std::size_t from,
            std::size_t to, Rank* best) {
    const std::uint32_t mask = rules::legal_mask(parent.field);
    // A quiet parent's children are quiet too: settled, nothing left to
    // vanish, on the same floor. Only a root may be otherwise.
    const bool quiet = parent.field.is_quiet();
    // The records were read by the merge on the calling thread: ask for them
    // back before the stores below wait for them one line at a time.
    for (std::size_t i = from; i < to; i += 64 / sizeof(Born)) prefetch_for_write(&born[rank * Hand::COUNT + i]);
    // First every child, asking for its table entry's line: the other
    // threads insert all over the table, so most entries are on another
    // core's cache, and fetching them one insertion at a time cost more than
    // making the children.
    std::uint32_t made = 0;
    std::uint64_t hashes[Hand::COUNT];
    for (std::size_t i = from; i < to; ++i) {
        Node& child = slots[rank * Hand::COUNT + i];
        born[rank * Hand::COUNT + i].entry = NONE;
        if (!(mask >> i & 1)) continue;
        child.field = parent.field;
        rules::place_legal(child.field, Hand::enumerate()[i], pair);
        child.pending = parent.pending;
        const rules::MoveResult move = rules::settle(child.field, child.pending, bonus);
        if (rules::is_dead(child.field)) continue;
        child.fired = parent.fired + fired_value(move);
        child.made = static_cast<std::uint32_t>(rank * Hand::COUNT + i);
        child.first = root ? static_cast<std::uint8_t>(i) : parent.first;
        hashes[i] = field_hash(child.field, child.pending);
        table.prefetch(hashes[i]);
        made |= std::uint32_t{1} << i;
    }
    for (std::uint32_t left = made; left; left &= left - 1) {
        const auto i = static_cast<std::size_t>(std::countr_zero(left));
        const Node& child = slots[rank * Hand::COUNT + i];
        const auto [entry, inserted] = table.insert(slots, child.made, hashes[i]);
        born[child.made] = {child.fired, entry, child.first};
        if (inserted) {
            const std::int64_t* value = known ? known->find(child.field) : nullptr;
            table.set_evaluation(entry, value ? *value : BeamBot::evaluate(child.field, weights, quiet));
        }
    }
    if (!best) return;
    // After this parent's own evaluations: an equal field another thread
    // inserted is most likely valued by now.
    for (std::uint32_t left = made; left; left &= left - 1) {
        const auto s =
            static_cast<std::uint32_t>(rank * Hand::COUNT + static_cast<std::size_t>(std::countr_zero(left)));
        const Rank r{born[s].fired + table.evaluation_when_set(born[s].entry), s};
        if (best->made == NONE || better(r, *best)) *best = r;
    }
}

struct Workspace {
    std::unique_ptr<WorkerPool> pool;  // none for one thread
    std::vector<Node> beam;
    // Two levels' children, in turn: the last two levels' stay readable to the end.
    std::array<std::vector<Node>, 2> slots;
    // Per buffer: the slot and evaluation of each distinct child of its level.
    std::array<std::vector<Valued>, 2> valued;
    std::vector<Born> born;
    FieldTable table;
    std::vector<std::uint32_t> kept;    // per table entry: its slot, or NONE
    std::vector<std::uint32_t> ranked;  // the entries kept, in slot order
    std::vector<Rank> order;
    std::vector<Rank> unit_best;  // the deepest level's best per unit of work
    // The last search's evaluations, and this one's for the next.
    EvaluationCache known, next_known;
};

}  // namespace

struct BeamBot::Workspaces {
    std::mutex mutex;
    std::vector<std::unique_ptr<Workspace>> idle;
};

BeamBot::BeamBot(unsigned width, unsigned depth, unsigned threads, const BotWeights& weights,
                 const Lookahead& lookahead)
    : width_(width),
      depth_(depth),
      threads_(threads),
      weights_(weights),
      lookahead_(lookahead),
      workspaces_(std::make_shared<Workspaces>()),
      look_spaces_(make_lookahead_spaces()) {
    if (width == 0 || depth == 0 || threads == 0) panic("BeamBot: width, depth and threads must be at least 1");
}

std::int64_t BeamBot::evaluate(const BitField& field) { return evaluate(field, field.is_quiet()); }

std::int64_t BeamBot::evaluate(const BitField& field, bool quiet) {
    return evaluate(field, BotWeights::classic(), quiet);
}

BotFeatures BeamBot::features(const BitField& field, bool quiet) {
    BotFeatures f;
    const std::uint32_t reachable = rules::reachable_columns(field);
    const BestFind potential =
        quiet ? ChainFinder::best_by_extend_of_quiet(field, reachable) : ChainFinder::best_by_extend(field, reachable);
    f.potential = static_cast<std::int64_t>(potential.score);
    f.chain = static_cast<std::int64_t>(potential.chain);
    f.unreachable = 6 - std::popcount(reachable);

    for (unsigned code = PuyoType::RED; code <= PuyoType::GREEN; ++code) {
        const Plane p = field.type_plane(code) & masks::GROUP_AREA;
        f.links += (p & p.down()).popcount() + (p & p.right()).popcount();
    }

    std::int64_t h[6];
    for (std::uint64_t x = 1; x <= 6; ++x) h[x - 1] = static_cast<std::int64_t>(field.get_height(x));
    for (int x = 0; x < 6; ++x) {
        if (x < 5) f.bump += std::abs(h[x] - h[x + 1]);
        const std::int64_t left = x > 0 ? h[x - 1] : h[x + 1], right = x < 5 ? h[x + 1] : h[x - 1];
        const std::int64_t walls = std::min(left, right), peaks = std::max(left, right);
        if (walls - h[x] > 2) f.valley += walls - h[x] - 2;
        if (h[x] - peaks > 2) f.ridge += h[x] - peaks - 2;
        f.puyos += h[x];
        f.top = std::max(f.top, h[x]);
    }
    for (int x = 1; x <= 3; ++x) {
        const std::int64_t over = h[x] - static_cast<std::int64_t>(DANGER_HEIGHT);
        if (over > 0) f.danger += over * over;
    }
    return f;
}

std::int64_t BeamBot::evaluate(const BitField& field, const BotWeights& weights, bool quiet) {
    const BotFeatures f = features(field, quiet);
    // Every term is a whole number under 2^53 for whole weights, so the
    // classic weights sum exactly as integers did.
    const auto w = weights.values();
    const auto v = feature_values(f);
    double sum = 0;
    for (std::size_t k = 0; k < BotWeights::COUNT; ++k) sum += w[k] * static_cast<double>(v[k]);
    return std::llround(sum);
}

Hand BeamBot::choose(const Game& game) const {
    if (game.over()) panic("BeamBot::choose: the game is over");
    if (lookahead_.queues > 0) {
        const std::vector<HandValue> ranked = look_ahead(game, nullptr);
        if (!ranked.empty()) return Hand::enumerate()[ranked[0].hand];
        return first_legal(game.legal_mask());
    }
    const std::uint32_t root_mask = game.legal_mask();

    // A workspace from the idle ones, returned when done; one a panic left
    // half-written is dropped.
    std::unique_ptr<Workspace> space;
    {
        std::lock_guard lock(workspaces_->mutex);
        if (!workspaces_->idle.empty()) {
            space = std::move(workspaces_->idle.back());
            workspaces_->idle.pop_back();
        }
    }
    if (!space) {
        space = std::make_unique<Workspace>();
        if (threads_ > 1) space->pool = std::make_unique<WorkerPool>(threads_);
    }
    struct GiveBack {
        Workspaces& spaces;
        std::unique_ptr<Workspace>& space;
        ~GiveBack() {
            if (std::uncaught_exceptions() > 0) return;
            std::lock_guard lock(spaces.mutex);
            spaces.idle.push_back(std::move(space));
        }
    } give_back{*workspaces_, space};
    WorkerPool* const pool = space->pool.get();
    std::vector<Node>& beam = space->beam;
    std::vector<Born>& born = space->born;
    FieldTable& table = space->table;
    std::vector<std::uint32_t>& kept = space->kept;
    std::vector<std::uint32_t>& ranked = space->ranked;
    std::vector<Rank>& order = space->order;
    std::vector<Rank>& unit_best = space->unit_best;
    std::size_t unmerged = 0;  // the deepest level's children, when it had any

    std::swap(space->known, space->next_known);
    beam.resize(1);
    beam[0].field = game.field();
    beam[0].pending = game.pending_bonus();
    beam[0].fired = 0;
    int chosen = -1;
    const unsigned levels = std::min(depth_, game.visible());
    for (unsigned level = 0; level < levels; ++level) {
        const Pair pair = game.pair(level);
        const std::size_t children = beam.size() * Hand::COUNT;
        std::vector<Node>& slots = space->slots[level % 2];
        std::vector<Valued>& valued = space->valued[level % 2];
        valued.clear();  // its slots are about to be overwritten
        // Each grows on its own: the two slot buffers differ in size, and
        // born serves both.
        if (slots.size() < children) slots.resize(children);
        if (born.size() < children) born.resize(children);
        table.reset(children);
        if (kept.size() < table.capacity()) kept.assign(table.capacity(), NONE);
        // Only the first two levels make fields the last search made.
        const EvaluationCache* known = level < 2 ? &space->known : nullptr;
        // The deepest level is not merged or ranked on this thread: its units
        // of work find their best as they go.
        const bool deepest = level + 1 == levels;
        // Half a parent per chunk: its 11 hands take over ten microseconds, and
        // a thread that ends the level early waits for at most one chunk. A
        // lone parent (the root) has its hands shared out two at a time.
        const bool lone = beam.size() == 1;
        const std::size_t units = lone ? Hand::COUNT : beam.size() * 2;
        if (deepest) unit_best.assign(units, Rank{0, NONE});
        if (lone) {
            run(pool, Hand::COUNT, 2, [&](std::size_t begin, std::size_t end) {
                expand(beam[0], 0, pair, level == 0, game.all_clear_bonus(), slots.data(), born.data(), table, known,
                       weights_, begin, end, deepest ? &unit_best[begin] : nullptr);
            });
        } else {
            constexpr std::size_t HALF = Hand::COUNT / 2;
            run(pool, units, 1, [&](std::size_t begin, std::size_t end) {
                for (std::size_t j = begin; j < end; ++j) {
                    const std::size_t first = j % 2 * HALF;
                    expand(beam[j / 2], j / 2, pair, level == 0, game.all_clear_bonus(), slots.data(), born.data(),
                           table, known, weights_, first, first + HALF, deepest ? &unit_best[j] : nullptr);
                }
            });
        }
        if (deepest) {
            const Rank* top = nullptr;
            for (const Rank& r : unit_best)
                if (r.made != NONE && (!top || better(r, *top))) top = &r;
            if (top) {
                chosen = born[top->made].first;
                unmerged = children;
            }
            break;  // with no child, every path loses here: the last level's best stands
        }
        // Equal fields are one node: the child with the most fired value,
        // the first made on a tie.
        ranked.clear();
        for (std::uint32_t s = 0; s < children; ++s) {
            const Born& child = born[s];
            if (child.entry == NONE) continue;
            std::uint32_t& k = kept[child.entry];
            if (k == NONE) {
                k = s;
                ranked.push_back(child.entry);
            } else if (child.fired > born[k].fired) {
                k = s;
            }
        }
        if (ranked.empty()) break;  // every path loses here: keep the last level's best
        // Ranked on copies of the keys: comparing through the slots missed the cache.
        order.clear();
        for (std::uint32_t e : ranked) {
            const std::uint32_t s = kept[e];
            order.push_back({born[s].fired + table.evaluation(e), s});
            valued.push_back({s, born[s].first, table.evaluation(e)});
            kept[e] = NONE;  // ready for the next level
        }
        const std::size_t keep = std::min<std::size_t>(width_, order.size());
        const auto cut = order.begin() + static_cast<std::ptrdiff_t>(keep);
        std::nth_element(order.begin(), cut, order.end(), better);
        std::sort(order.begin(), cut, better);
        beam.resize(keep);
        for (std::size_t k = 0; k < keep; ++k) beam[k] = slots[order[k].made];
        chosen = beam[0].first;
    }
    if (chosen >= 0) {
        // The next search starts from the chosen hand's field with the next
        // pair: its first two levels remake fields of the last two levels
        // here, and only those under the chosen hand.
        space->next_known.reset((std::size_t{width_} + Hand::COUNT) * Hand::COUNT);
        for (std::size_t b = 0; b < 2; ++b) {
            for (const Valued& v : space->valued[b]) {
                if (v.first == chosen) space->next_known.put(space->slots[b][v.slot].field, v.evaluation);
            }
        }
        // The deepest level's children, unmerged: put keeps one of equal fields.
        const std::vector<Node>& deepest = space->slots[(levels - 1) % 2];
        for (std::uint32_t s = 0; s < unmerged; ++s) {
            const Born& child = born[s];
            if (child.entry != NONE && child.first == chosen)
                space->next_known.put(deepest[s].field, table.evaluation(child.entry));
        }
        return Hand::enumerate()[static_cast<std::size_t>(chosen)];
    }
    space->next_known.reset(0);
    return first_legal(root_mask);
}

}  // namespace tavik
