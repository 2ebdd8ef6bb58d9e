#include "field/array_field.hpp"

namespace tavik {

ArrayField::ArrayField() {
    for (std::uint64_t x = 0; x < FIELD_WIDTH; ++x)
        for (std::uint64_t y = 0; y < FIELD_HEIGHT; ++y) {
            const bool frame = x == 0 || x == FIELD_WIDTH - 1 || y == 0 || y == FIELD_HEIGHT - 1;
            cells_[x][y] = frame ? PuyoType::WALL : PuyoType::EMPTY;
        }
}

std::optional<Position> ArrayField::put(std::uint64_t x, PuyoType t) {
    for (std::uint64_t y = 14; y >= 1; --y) {
        if (get(x, y) == PuyoType::EMPTY) {
            cells_[x][y] = t;
            return Position{x, y};
        }
    }
    return std::nullopt;
}

std::uint64_t ArrayField::get_height(std::uint64_t x) const {
    std::uint64_t height = 0;
    for (std::uint64_t y = 14; y >= 1 && get(x, y) != PuyoType::EMPTY; --y) ++height;
    return height;
}

bool ArrayField::has_type(PuyoType t) const {
    for (std::uint64_t x = 1; x <= 6; ++x)
        for (std::uint64_t y = 1; y <= 14; ++y)
            if (cells_[x][y] == t) return true;
    return false;
}

void ArrayField::get_field_connection(std::uint64_t x, std::uint64_t y, PuyoType puyotype, Visited& visited,
                                      std::vector<Position>& positions) const {
    check_index(x, FIELD_WIDTH);
    check_index(y, FIELD_HEIGHT);
    if (visited[x][y] || y < 3) return;
    if (cells_[x][y] != puyotype) return;
    positions.push_back({x, y});
    visited[x][y] = true;
    get_field_connection(x + 1, y, puyotype, visited, positions);
    get_field_connection(x - 1, y, puyotype, visited, positions);
    get_field_connection(x, y + 1, puyotype, visited, positions);
    get_field_connection(x, y - 1, puyotype, visited, positions);
}

// Every colour group of rows 3..14, whatever its size, in scan order.
ConnectionList ArrayField::find_groups() const {
    Visited visited{};
    ConnectionList groups;
    for (std::uint64_t x = 1; x <= 6; ++x)
        for (std::uint64_t y = 3; y <= 14; ++y) {
            const PuyoType t = cells_[x][y];
            if (!t.is_color()) continue;
            std::vector<Position> positions;
            get_field_connection(x, y, t, visited, positions);
            if (positions.empty()) continue;
            const std::uint64_t size = positions.size();
            groups.push_back(Connection{std::move(positions), size, t});
        }
    return groups;
}

ConnectionList ArrayField::vanish() {
    ConnectionList groups = find_groups();
    std::erase_if(groups, [](const Connection& c) { return c.size < 4; });
    for (const Connection& group : groups)
        for (const Position& p : *group.positions) {
            cells_[p.x][p.y] = PuyoType::EMPTY;
            const Position around[] = {{p.x, p.y + 1}, {p.x, p.y - 1}, {p.x - 1, p.y}, {p.x + 1, p.y}};
            for (const Position& n : around)
                if (get(n.x, n.y) == PuyoType::OJAMA) cells_[n.x][n.y] = PuyoType::EMPTY;
        }
    return groups;
}

void ArrayField::drop() {
    for (std::uint64_t x = 1; x <= 6; ++x) {
        std::uint64_t write = 14;
        for (std::uint64_t y = 14; y >= 2; --y) {
            const PuyoType t = cells_[x][y];
            if (t == PuyoType::EMPTY) continue;
            if (y != write) {
                cells_[x][write] = t;
                cells_[x][y] = PuyoType::EMPTY;
            }
            --write;
        }
    }
}

ConnectionList ArrayField::get_vanishable_connections() const {
    ConnectionList groups = find_groups();
    std::erase_if(groups, [&](const Connection& c) {
        for (const Position& p : *c.positions) {
            const Position around[] = {{p.x, p.y + 1}, {p.x, p.y - 1}, {p.x - 1, p.y}, {p.x + 1, p.y}};
            for (const Position& n : around)
                if (n.x < FIELD_WIDTH && n.y < FIELD_HEIGHT && cells_[n.x][n.y] == PuyoType::EMPTY) return false;
        }
        return true;
    });
    return groups;
}

}  // namespace tavik
