// BeamBot's search past the visible pairs, and the ranked hands of analyse().
// Written plainly (one thread per queue, a private merge table) rather than
// on the shared slots of the plain search: queues are independent, so
// threads share them out whole and need no table between them.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <mutex>
#include <optional>
#include <vector>

#include "game/beam_bot.hpp"
#include "game/pair_sequence.hpp"
#include "game/rules.hpp"
#include "game/worker_pool.hpp"
#include "panic.hpp"

namespace tavik {

BotWeights BotWeights::tuned() {
    BotWeights w;
    w.potential = 0.5;
    w.chain = 500;
    w.links = 120;
    w.bump = -60;
    w.valley = -300;
    w.ridge = -200;
    w.danger = -1500;
    return w;
}

namespace {

constexpr std::int64_t LOST = std::numeric_limits<std::int64_t>::min();

struct PathNode {
    BitField field;
    std::int64_t fired = 0;
    std::uint64_t pending = 0;
    std::uint8_t first = 0;
    bool quiet = false;  // of its parent: a quiet parent's children are quiet too
};

std::uint64_t node_hash(const BitField& f, std::uint64_t pending) {
    std::uint64_t h = pending * 0x9E3779B97F4A7C15;
    for (std::size_t k = 0; k < 3; ++k) {
        h = (h ^ f.plane(k).low()) * 0xBF58476D1CE4E5B9;
        h = (h ^ f.plane(k).high()) * 0x94D049BB133111EB;
    }
    return h ^ (h >> 31);
}

std::int64_t fired_value(const rules::MoveResult& move) {
    const auto score = static_cast<std::int64_t>(move.score);
    return move.chain >= BeamBot::FIRE_MIN_CHAIN ? score : -score / 2;
}

// Per first hand, the best value of a path that ended or survived.
using Best = std::array<std::int64_t, Hand::COUNT>;

void improve(Best& best, std::uint8_t first, std::int64_t value) { best[first] = std::max(best[first], value); }

// Buffers of one search, kept between levels and calls.
struct Scratch {
    std::vector<PathNode> children;
    std::vector<std::uint32_t> table;  // index + 1 into children, 0 free
    std::vector<std::pair<std::int64_t, std::uint32_t>> order;
    std::vector<PathNode> next;
};

struct Level {
    Pair pair;
    unsigned width;
    bool last;  // the game's last pair: a path still building is worth what it fired
};

struct Search {
    const BotWeights& weights;
    std::uint64_t bonus;
    std::uint64_t fire_score;  // 0: no chain ends a path
    SearchStats stats;

    // One level: every child of the beam made, ripe fires recorded in
    // `ended`, equal children merged (the most fired, then the first made),
    // the `width` best kept in rank order with their values. False, beam
    // untouched, when no child survives.
    bool step(std::vector<PathNode>& beam, std::vector<std::int64_t>& values, const Level& level, bool root,
              Best& ended, Scratch& s) {
        s.children.clear();
        std::size_t capacity = 64;
        while (capacity < 2 * Hand::COUNT * beam.size()) capacity *= 2;
        s.table.assign(capacity, 0);
        for (const PathNode& parent : beam) {
            const std::uint32_t mask = rules::legal_mask(parent.field);
            const bool quiet = parent.field.is_quiet();
            for (std::size_t i = 0; i < Hand::COUNT; ++i) {
                if (!(mask >> i & 1)) continue;
                PathNode child = parent;
                rules::place_legal(child.field, Hand::enumerate()[i], level.pair);
                const rules::MoveResult move = rules::settle(child.field, child.pending, bonus);
                ++stats.nodes;
                if (rules::is_dead(child.field)) continue;
                if (root) child.first = static_cast<std::uint8_t>(i);
                child.quiet = quiet;
                if (fire_score > 0 && move.score >= fire_score) {
                    ++stats.fired;
                    improve(ended, child.first, parent.fired + static_cast<std::int64_t>(move.score));
                    continue;
                }
                child.fired = parent.fired + fired_value(move);
                for (std::size_t at = node_hash(child.field, child.pending) & (capacity - 1);;
                     at = (at + 1) & (capacity - 1)) {
                    if (s.table[at] == 0) {
                        s.children.push_back(child);
                        s.table[at] = static_cast<std::uint32_t>(s.children.size());
                        break;
                    }
                    PathNode& other = s.children[s.table[at] - 1];
                    if (other.field == child.field && other.pending == child.pending) {
                        ++stats.merged;
                        if (child.fired > other.fired) other = child;
                        break;
                    }
                }
            }
        }
        if (s.children.empty()) return false;
        s.order.clear();
        for (std::uint32_t k = 0; k < s.children.size(); ++k) {
            const PathNode& c = s.children[k];
            s.order.push_back({c.fired + (level.last ? 0 : BeamBot::evaluate(c.field, weights, c.quiet)), k});
        }
        auto better = [](const auto& a, const auto& b) {
            return a.first != b.first ? a.first > b.first : a.second < b.second;
        };
        const std::size_t keep = std::min<std::size_t>(level.width, s.order.size());
        const auto cut = s.order.begin() + static_cast<std::ptrdiff_t>(keep);
        std::nth_element(s.order.begin(), cut, s.order.end(), better);
        std::sort(s.order.begin(), cut, better);
        beam.clear();
        values.clear();
        for (std::size_t k = 0; k < keep; ++k) {
            beam.push_back(s.children[s.order[k].second]);
            values.push_back(s.order[k].first);
        }
        return true;
    }
};

// The best of each first hand among a ranked beam and the ended paths.
Best best_of(const std::vector<PathNode>& beam, const std::vector<std::int64_t>& values, const Best& ended) {
    Best best = ended;
    for (std::size_t k = 0; k < beam.size(); ++k) improve(best, beam[k].first, values[k]);
    return best;
}

// Guessed queue q: its own sequence, indexed by the game's turn, so the
// guess for a turn stays the same from one move to the next.
Pair guessed(std::uint64_t seed, std::size_t queue, unsigned colours, std::uint64_t index) {
    return PairSequence(splitmix64_at(seed, queue), colours).at(index);
}

}  // namespace

struct BeamBot::LookaheadSpaces {
    std::mutex mutex;
    std::vector<std::unique_ptr<WorkerPool>> idle;
};

std::shared_ptr<BeamBot::LookaheadSpaces> BeamBot::make_lookahead_spaces() {
    return std::make_shared<LookaheadSpaces>();
}

std::vector<HandValue> BeamBot::analyse(const Game& game, SearchStats* stats) const {
    if (game.over()) panic("BeamBot::analyse: the game is over");
    return look_ahead(game, stats);
}

std::vector<HandValue> BeamBot::look_ahead(const Game& game, SearchStats* stats) const {
    const bool guessing = lookahead_.queues > 0;
    Search known{weights_, game.all_clear_bonus(), guessing ? lookahead_.fire_score : 0, {}};
    std::vector<PathNode> beam{{game.field(), 0, game.pending_bonus(), 0}};
    std::vector<std::int64_t> values{0};
    Best ended;
    ended.fill(LOST);
    Scratch scratch;
    // Pairs left before the game's end, when it has one; at least the current.
    const std::uint64_t left =
        guessing && lookahead_.pairs > game.turn() ? lookahead_.pairs - game.turn() : ~std::uint64_t{0};
    const unsigned levels = static_cast<unsigned>(std::min<std::uint64_t>(std::min(depth_, game.visible()), left));
    unsigned reached = 0;
    for (unsigned level = 0; level < levels; ++level) {
        if (!known.step(beam, values, {game.pair(level), width_, level + 1 == left}, level == 0, ended, scratch)) break;
        reached = level + 1;
    }
    // Without any level the root is no path of a hand.
    if (reached == 0) beam.clear();
    SearchStats total = known.stats;
    total.levels = reached;

    // Per queue, the best of each first hand; the plain search has one
    // "queue", the known levels.
    std::vector<Best> per_queue;
    if (!guessing || reached < levels || beam.empty()) {
        per_queue.push_back(best_of(beam, values, ended));
    } else {
        const std::size_t queues = lookahead_.queues;
        per_queue.assign(queues, Best{});
        std::vector<SearchStats> queue_stats(queues);
        std::vector<unsigned> queue_levels(queues, 0);
        const unsigned width = lookahead_.width ? lookahead_.width : width_;
        const unsigned colours = game.sequence().colours();
        auto work = [&](std::size_t begin, std::size_t end) {
            Scratch s;
            for (std::size_t q = begin; q < end; ++q) {
                std::vector<PathNode> b = beam;
                std::vector<std::int64_t> v = values;
                Best e = ended;
                Search search{weights_, game.all_clear_bonus(), lookahead_.fire_score, {}};
                unsigned level = 0;
                const auto horizon = static_cast<unsigned>(std::min<std::uint64_t>(lookahead_.horizon, left - levels));
                for (; level < horizon; ++level) {
                    const Pair pair = guessed(lookahead_.seed, q, colours, game.turn() + levels + level);
                    if (!search.step(b, v, {pair, width, levels + level + 1 == left}, false, e, s)) break;
                }
                per_queue[q] = best_of(b, v, e);
                queue_stats[q] = search.stats;
                queue_levels[q] = levels + level;
            }
        };
        std::unique_ptr<WorkerPool> pool;
        if (threads_ > 1) {
            std::lock_guard lock(look_spaces_->mutex);
            if (!look_spaces_->idle.empty()) {
                pool = std::move(look_spaces_->idle.back());
                look_spaces_->idle.pop_back();
            }
        }
        if (threads_ > 1 && !pool) pool = std::make_unique<WorkerPool>(threads_);
        if (pool) {
            pool->run(queues, 1, work);
            std::lock_guard lock(look_spaces_->mutex);
            look_spaces_->idle.push_back(std::move(pool));
        } else {
            work(0, queues);
        }
        for (std::size_t q = 0; q < queues; ++q) {
            total.nodes += queue_stats[q].nodes;
            total.merged += queue_stats[q].merged;
            total.fired += queue_stats[q].fired;
            total.levels = std::max<std::uint64_t>(total.levels, queue_levels[q]);
        }
    }
    if (stats) *stats = total;

    // A hand a queue dropped counts that queue's worst value: no better than
    // any path it kept.
    std::array<double, Hand::COUNT> sum{};
    std::array<bool, Hand::COUNT> seen{};
    for (const Best& best : per_queue) {
        std::int64_t worst = std::numeric_limits<std::int64_t>::max();
        for (std::int64_t v : best)
            if (v != LOST) worst = std::min(worst, v);
        if (worst == std::numeric_limits<std::int64_t>::max()) continue;
        for (std::size_t i = 0; i < Hand::COUNT; ++i) {
            seen[i] = seen[i] || best[i] != LOST;
            sum[i] += static_cast<double>(best[i] != LOST ? best[i] : worst);
        }
    }
    // Ties go to the hand whose best path ranked first in the plain search:
    // its position in the last beam, then ended paths, by hand index.
    std::array<std::size_t, Hand::COUNT> rank;
    rank.fill(std::numeric_limits<std::size_t>::max());
    for (std::size_t k = beam.size(); k-- > 0;) rank[beam[k].first] = k;
    std::vector<HandValue> out;
    for (std::size_t i = 0; i < Hand::COUNT; ++i)
        if (seen[i]) out.push_back({static_cast<std::uint8_t>(i), sum[i] / static_cast<double>(per_queue.size())});
    std::stable_sort(out.begin(), out.end(), [&](const HandValue& a, const HandValue& b) {
        if (a.value != b.value) return a.value > b.value;
        return rank[a.hand] != rank[b.hand] ? rank[a.hand] < rank[b.hand] : a.hand < b.hand;
    });
    return out;
}

}  // namespace tavik
