#include "field/connection.hpp"

namespace tavik {

std::string Connection::debug() const {
    std::string out = "Connection { positions: ";
    if (positions) {
        out += "Some([";
        for (std::size_t i = 0; i < positions->size(); ++i) {
            if (i) out += ", ";
            out += (*positions)[i].debug();
        }
        out += "])";
    } else {
        out += "None";
    }
    out += ", size: " + std::to_string(size) + ", puyotype: " + puyotype.debug() + " }";
    return out;
}

std::string debug_list(const ConnectionList& connections) {
    std::string out = "[";
    for (std::size_t i = 0; i < connections.size(); ++i) {
        if (i) out += ", ";
        out += connections[i].debug();
    }
    return out + "]";
}

}  // namespace tavik
