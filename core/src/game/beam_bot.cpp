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
#include <mutex>
#include <vector>

#include "chain/chain_finder.hpp"
#include "game/rules.hpp"
#include "game/worker_pool.hpp"
#include "panic.hpp"

namespace tavik {

// An extension fires its own drops with the cells they touch, then whatever
// that leaves: extensions that complete the same cells fire the same rest.
// The rest is simulated once per set of cells, on the field with those cells
// emptied (its first pass only drops, so the rest is numbered from chain 2).
std::uint64_t BeamBot::potential(const BitField& field) {
    struct Rest {
        Plane vanished;
        std::uint64_t score;
    };
    constexpr std::size_t REMEMBERED = 48;  // more distinct sets than this are simulated each time
    std::array<Rest, REMEMBERED> rests;
    std::size_t remembered = 0;

    const Plane occupied = ~field.type_plane(PuyoType::EMPTY);
    std::array<Plane, 4> colours;  // RED..GREEN, inside the area where groups vanish
    for (unsigned c = 0; c < 4; ++c) colours[c] = field.type_plane(PuyoType::RED + c) & masks::GROUP_AREA;
    const std::uint32_t reachable = rules::reachable_columns(field);
    const ChainFinder::CandidateSet candidates = ChainFinder::extension_candidates(field);
    std::uint64_t best = 0;
    for (const ChainFinder::Candidate& cand : candidates) {
        if (!(reachable >> (cand.x - 1) & 1)) continue;
        // The drops stack from the landing row y upwards, in lane x:
        //   bits 16x + 15 - y .. 16x + 15 - y + count - 1, all in rows >= 2
        // (as the finder: row 1 never joins a chain).
        const std::uint64_t height = field.get_height(cand.x);
        if (height + cand.count > 13) continue;
        const std::uint64_t lane = ((std::uint64_t{1} << cand.count) - 1) << (16 * (cand.x & 3) + 1 + height);
        const Plane drops = cand.x < 4 ? Plane(lane, 0) : Plane(0, lane);
        const Plane colour = colours[cand.type - PuyoType::RED] | (drops & masks::GROUP_AREA);
        const Plane group = (drops & colour).flood_fill(colour);
        const unsigned size = group.popcount();
        if (size < 4) continue;  // nothing vanishes: no chain
        if (!drops.is_subset_of(group)) {
            // A drop in row 2 stays behind: the rest is this extension's own.
            BitField copy = field;
            for (std::uint8_t i = 0; i < cand.count; ++i) (void)copy.put(cand.x, cand.puyotype());
            best = std::max(best, copy.chain_score().score);
            continue;
        }
        const Plane vanished = group.and_not(drops);
        std::uint64_t rest_score = 0;
        // When nothing stands on the vanished cells the chain ends with its first step.
        if (!(vanished.up() & occupied).and_not(vanished).is_empty()) {
            const Rest* rest = nullptr;
            for (std::size_t k = 0; k < remembered && !rest; ++k)
                if (rests[k].vanished == vanished) rest = &rests[k];
            if (rest) {
                rest_score = rest->score;
            } else {
                rest_score = BitField::from_planes(field.plane(0).and_not(vanished), field.plane(1).and_not(vanished),
                                                   field.plane(2).and_not(vanished))
                                 .chain_score()
                                 .score;
                if (remembered < REMEMBERED) rests[remembered++] = {vanished, rest_score};
            }
        }
        const struct {
            std::uint64_t size;
            PuyoType puyotype;
        } first[] = {{size, cand.puyotype()}};
        best = std::max(best, step_score(1, first) + rest_score);
    }
    return best;
}

struct BeamBot::Pools {
    std::mutex mutex;
    std::vector<std::unique_ptr<WorkerPool>> idle;
};

namespace {

constexpr std::size_t HANDS = 22;

struct Node {
    BitField field;
    std::int64_t fired = 0;     // fired value summed along the path
    std::uint64_t pending = 0;  // all-clear bonus owed to the next chain
    std::uint32_t made = 0;     // slot index: the tie-break order
    std::uint32_t entry = 0;    // the child's field in the level's FieldTable
    std::uint8_t first = 0;     // the path's first hand, as an index into Hand::enumerate()
    bool alive = false;
};

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
        // 2 * level + 0 while being written, + 1 once `slot` is set; an older
        // level's value (or 0) is a free entry, so a new level clears nothing.
        std::atomic<std::uint32_t> state{0};
        std::uint32_t slot = 0;
        std::int64_t evaluation = 0;  // written by the inserting thread, read after the level
    };

    // Room for `count` insertions; forgets the last level.
    void reset(std::size_t count) {
        std::size_t capacity = 64;
        while (capacity < 3 * count / 2) capacity *= 2;
        if (capacity > capacity_) {
            entries_ = std::make_unique<Entry[]>(capacity);
            capacity_ = capacity;
        }
        writing_ += 2;
    }

    // The entry of the field of slots[slot], and whether this call inserted it.
    std::pair<std::uint32_t, bool> insert(const Node* slots, std::uint32_t slot) {
        const Node& child = slots[slot];
        for (std::size_t at = field_hash(child.field, child.pending) & (capacity_ - 1);; at = (at + 1) & (capacity_ - 1)) {
            Entry& e = entries_[at];
            std::uint32_t state = e.state.load(std::memory_order_acquire);
            if (state < writing_ && e.state.compare_exchange_strong(state, writing_, std::memory_order_acquire)) {
                e.slot = slot;
                e.state.store(writing_ + 1, std::memory_order_release);
                return {static_cast<std::uint32_t>(at), true};
            }
            while (state != writing_ + 1) state = e.state.load(std::memory_order_acquire);  // a store away
            const Node& other = slots[e.slot];
            if (other.field == child.field && other.pending == child.pending)
                return {static_cast<std::uint32_t>(at), false};
        }
    }

    Entry& operator[](std::uint32_t i) { return entries_[i]; }
    std::size_t capacity() const { return capacity_; }

private:
    std::unique_ptr<Entry[]> entries_;
    std::size_t capacity_ = 0;
    std::uint32_t writing_ = 0;
};

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
void expand(const Node& parent, std::size_t rank, Pair pair, bool root, std::uint64_t bonus, Node* slots,
            FieldTable& table) {
    const std::uint32_t mask = rules::legal_mask(parent.field);
    for (std::size_t i = 0; i < HANDS; ++i) {
        Node& child = slots[rank * HANDS + i];
        child.alive = false;
        if (!(mask >> i & 1)) continue;
        child.field = parent.field;
        rules::place_legal(child.field, Hand::enumerate()[i], pair);
        child.pending = parent.pending;
        const rules::MoveResult move = rules::settle(child.field, child.pending, bonus);
        if (rules::is_dead(child.field)) continue;
        child.alive = true;
        child.fired = parent.fired + fired_value(move);
        child.made = static_cast<std::uint32_t>(rank * HANDS + i);
        child.first = root ? static_cast<std::uint8_t>(i) : parent.first;
        const auto [entry, inserted] = table.insert(slots, child.made);
        child.entry = entry;
        if (inserted) table[entry].evaluation = BeamBot::evaluate(child.field);
    }
}

}  // namespace

BeamBot::BeamBot(unsigned width, unsigned depth, unsigned threads)
    : width_(width), depth_(depth), threads_(threads), pools_(std::make_shared<Pools>()) {
    if (width == 0 || depth == 0 || threads == 0) panic("BeamBot: width, depth and threads must be at least 1");
}

std::int64_t BeamBot::evaluate(const BitField& field) {
    std::int64_t value = static_cast<std::int64_t>(potential(field));
    value -= UNREACHABLE * (6 - std::popcount(rules::reachable_columns(field)));

    std::int64_t links = 0;
    for (unsigned code = PuyoType::RED; code <= PuyoType::GREEN; ++code) {
        const Plane p = field.type_plane(code) & masks::GROUP_AREA;
        links += (p & p.down()).popcount() + (p & p.right()).popcount();
    }
    value += LINK * links;

    std::int64_t h[6];
    for (std::uint64_t x = 1; x <= 6; ++x) h[x - 1] = static_cast<std::int64_t>(field.get_height(x));
    for (int x = 0; x < 6; ++x) {
        if (x < 5) value -= BUMP * std::abs(h[x] - h[x + 1]);
        const std::int64_t walls = std::min(x > 0 ? h[x - 1] : h[x + 1], x < 5 ? h[x + 1] : h[x - 1]);
        if (walls - h[x] > 2) value -= VALLEY * (walls - h[x] - 2);
    }
    for (int x = 1; x <= 3; ++x) {
        const std::int64_t over = h[x] - static_cast<std::int64_t>(DANGER_HEIGHT);
        if (over > 0) value -= DANGER * over * over;
    }
    return value;
}

Hand BeamBot::choose(const Game& game) const {
    if (game.over()) panic("BeamBot::choose: the game is over");
    const std::uint32_t root_mask = game.legal_mask();

    // A pool from the idle ones, returned when done (even by a panic).
    std::unique_ptr<WorkerPool> pool;
    if (threads_ > 1) {
        std::lock_guard lock(pools_->mutex);
        if (!pools_->idle.empty()) {
            pool = std::move(pools_->idle.back());
            pools_->idle.pop_back();
        }
    }
    if (threads_ > 1 && !pool) pool = std::make_unique<WorkerPool>(threads_);
    struct GiveBack {
        Pools& pools;
        std::unique_ptr<WorkerPool>& pool;
        ~GiveBack() {
            if (!pool) return;
            std::lock_guard lock(pools.mutex);
            pools.idle.push_back(std::move(pool));
        }
    } give_back{*pools_, pool};

    std::vector<Node> beam(1);
    beam[0].field = game.field();
    beam[0].pending = game.pending_bonus();
    int chosen = -1;
    std::vector<Node> slots;
    FieldTable table;
    std::vector<std::uint32_t> kept;  // per table entry: its slot, or NONE
    std::vector<std::uint32_t> ranked;  // the entries kept, in slot order
    struct Rank {
        std::int64_t value;
        std::uint32_t made;  // also the slot
    };
    std::vector<Rank> order;
    constexpr std::uint32_t NONE = ~std::uint32_t{0};
    const unsigned levels = std::min(depth_, game.visible());
    std::size_t parents = 1;  // the most a level can have, to allocate the slots once
    for (unsigned level = 1; level < levels && parents < width_; ++level) parents = std::min<std::size_t>(width_, parents * HANDS);
    slots.reserve(parents * HANDS);
    for (unsigned level = 0; level < levels; ++level) {
        const Pair pair = game.pair(level);
        slots.resize(beam.size() * HANDS);
        table.reset(slots.size());
        // One parent per chunk: its 22 children take tens of microseconds.
        run(pool.get(), beam.size(), 1, [&](std::size_t begin, std::size_t end) {
            for (std::size_t r = begin; r < end; ++r)
                expand(beam[r], r, pair, level == 0, game.all_clear_bonus(), slots.data(), table);
        });
        // Equal fields are one node: the child with the most fired value,
        // the first made on a tie.
        kept.assign(table.capacity(), NONE);
        ranked.clear();
        for (std::uint32_t s = 0; s < slots.size(); ++s) {
            const Node& child = slots[s];
            if (!child.alive) continue;
            std::uint32_t& k = kept[child.entry];
            if (k == NONE) {
                k = s;
                ranked.push_back(child.entry);
            } else if (child.fired > slots[k].fired) {
                k = s;
            }
        }
        if (ranked.empty()) break;  // every path loses here: keep the last level's best
        // Ranked on copies of the keys: comparing through the slots missed the cache.
        order.clear();
        for (std::uint32_t e : ranked) {
            const Node& n = slots[kept[e]];
            order.push_back({n.fired + table[e].evaluation, n.made});
        }
        const auto better = [](const Rank& a, const Rank& b) {
            return a.value != b.value ? a.value > b.value : a.made < b.made;
        };
        const std::size_t keep = std::min<std::size_t>(width_, order.size());
        const auto cut = order.begin() + static_cast<std::ptrdiff_t>(keep);
        std::nth_element(order.begin(), cut, order.end(), better);  // a strict order: no two nodes tie
        std::sort(order.begin(), cut, better);
        beam.resize(keep);
        for (std::size_t k = 0; k < keep; ++k) beam[k] = slots[order[k].made];
        chosen = beam[0].first;
    }
    if (chosen >= 0) return Hand::enumerate()[static_cast<std::size_t>(chosen)];
    // Every hand loses the game: play the first legal one (the spawn column
    // is free while the game goes on, so there is one).
    for (std::size_t i = 0; i < HANDS; ++i)
        if (root_mask >> i & 1) return Hand::enumerate()[i];
    panic("BeamBot::choose: no legal hand");
}

}  // namespace tavik
