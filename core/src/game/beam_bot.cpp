// The beam search and the evaluation of BeamBot. Children are made into fixed
// slots (parent rank * 22 + hand index) so threads can fill them in any order
// and the merge and the ranking, done on one thread, see the same list.
#include "game/beam_bot.hpp"

#include <algorithm>
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
            best = std::max(best, copy.chain().score());
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
                                 .chain()
                                 .score();
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
// Children per chunk handed to a thread: a child costs a few microseconds, so
// a chunk of 8 keeps the shared counter out of the profile.
constexpr std::size_t EVALUATE_CHUNK = 8;
constexpr std::size_t EXPAND_CHUNK = 2;  // parents, 22 children each

struct Node {
    BitField field;
    std::int64_t value = 0;
    std::int64_t fired = 0;     // fired value summed along the path
    std::uint64_t pending = 0;  // all-clear bonus owed to the next chain
    std::uint32_t made = 0;     // slot index: the tie-break order
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

// Runs work(begin, end) over [0, count) on the pool, or inline without one.
template <class Work>
void run(WorkerPool* pool, std::size_t count, std::size_t chunk, Work&& work) {
    if (pool) {
        pool->run(count, chunk, work);
    } else if (count) {
        work(0, count);
    }
}

// The children of one parent into slots[22 * rank, 22 * rank + 22).
void expand(const Node& parent, std::size_t rank, Pair pair, bool root, std::uint64_t bonus, Node* slots) {
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
    }
}

// The living slots with equal fields merged, in slot order: for each field the
// slot with the most fired value, the first of them on a tie.
std::vector<std::uint32_t> merge(const std::vector<Node>& slots) {
    std::size_t capacity = 64;
    while (capacity < 2 * slots.size()) capacity *= 2;
    constexpr std::uint32_t FREE = ~std::uint32_t{0};
    std::vector<std::uint32_t> table(capacity, FREE);  // entry: an index into `unique`
    std::vector<std::uint32_t> unique;
    unique.reserve(slots.size());
    for (std::uint32_t s = 0; s < slots.size(); ++s) {
        const Node& node = slots[s];
        if (!node.alive) continue;
        std::size_t at = field_hash(node.field, node.pending) & (capacity - 1);
        for (;; at = (at + 1) & (capacity - 1)) {
            if (table[at] == FREE) {
                table[at] = static_cast<std::uint32_t>(unique.size());
                unique.push_back(s);
                break;
            }
            std::uint32_t& kept = unique[table[at]];
            const Node& other = slots[kept];
            if (other.field == node.field && other.pending == node.pending) {
                if (node.fired > other.fired) kept = s;
                break;
            }
        }
    }
    return unique;
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
    const unsigned levels = std::min(depth_, game.visible());
    for (unsigned level = 0; level < levels; ++level) {
        const Pair pair = game.pair(level);
        slots.resize(beam.size() * HANDS);
        run(pool.get(), beam.size(), EXPAND_CHUNK, [&](std::size_t begin, std::size_t end) {
            for (std::size_t r = begin; r < end; ++r)
                expand(beam[r], r, pair, level == 0, game.all_clear_bonus(), slots.data());
        });
        std::vector<std::uint32_t> unique = merge(slots);
        if (unique.empty()) break;  // every path loses here: keep the last level's best
        run(pool.get(), unique.size(), EVALUATE_CHUNK, [&](std::size_t begin, std::size_t end) {
            for (std::size_t u = begin; u < end; ++u) {
                Node& n = slots[unique[u]];
                n.value = n.fired + evaluate(n.field);
            }
        });
        const auto better = [&](std::uint32_t a, std::uint32_t b) {
            const Node& x = slots[a];
            const Node& y = slots[b];
            return x.value != y.value ? x.value > y.value : x.made < y.made;
        };
        const std::size_t keep = std::min<std::size_t>(width_, unique.size());
        std::partial_sort(unique.begin(), unique.begin() + static_cast<std::ptrdiff_t>(keep), unique.end(), better);
        beam.resize(keep);
        for (std::size_t k = 0; k < keep; ++k) beam[k] = slots[unique[k]];
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
