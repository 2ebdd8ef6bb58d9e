#pragma once
// The arrays of a batched step, made from its table (game/step_table.hpp):
// the environment's own set, fresh sets handed to the caller and reused once
// the caller drops them (the one recycler), and Gymnasium's result around a
// set. Only touched with the interpreter lock held.
#include "buffer.hpp"
#include "game/step_table.hpp"

#include <cstddef>
#include <span>
#include <vector>

namespace tavik::py {

class StepArrays {
public:
    // One block of memory with an array over each part: the table's outputs,
    // then a flag array `_name` for each flagged output.
    struct Set {
        Ref memory;  // the block, exported by a buffer object the arrays keep alive
        std::vector<Ref> arrays;
        std::byte* block = nullptr;
    };

    StepArrays(std::span<const StepField> table, const StepSizes& sizes);

    // The environment's own set, for a caller that takes no copies.
    Set& own() { return own_; }
    // A kept set for a fresh step: one the caller dropped entirely, else a
    // new one while fewer than KEPT are kept; nullptr when the caller holds
    // them all (the step then makes a new_set of its own). Its arrays may be
    // stale: call make_arrays before handing them out.
    Set* reusable();
    Set new_set() const;
    // Makes the arrays of `set` over its block, keeping those still intact.
    void make_arrays(Set& set) const;

    void* data(const Set& set, std::size_t part) const { return set.block + parts_[part].offset; }
    std::size_t outputs() const { return table_.size(); }
    // The part of output k's flag array.
    std::size_t flag_part(std::size_t k) const { return flag_of_[k]; }

    // Writes the flags of a step: all set for masks, `played` (one per
    // environment; none for a reset) for the played outputs.
    void write_flags(const Set& set, const bool* played) const;
    // (obs, reward, terminated, truncated, info) around a step's set; info
    // holds the played outputs only when `any_played`.
    PyObject* step_result(const Set& set, bool any_played) const;
    // (obs, info) around a reset's set: the masks only.
    PyObject* reset_result(const Set& set) const;
    // Of the outputs by name, for the single environment's views.
    PyObject* by_name(const Set& set) const;
    // ((name, dtype, role, shape), ...), from which the Python side makes its spaces.
    PyObject* layout() const;

private:
    static constexpr std::size_t KEPT = 3;  // a step's arrays, the last step's, one more the caller keeps

    struct Part {
        Element element;
        std::vector<Py_ssize_t> shape;
        Ref dims;  // shape as a tuple, for new arrays
        Ref key;   // its name in the result, interned
        Py_ssize_t offset;
    };
    static bool dropped(const Set& set);
    PyObject* info(const Set& set, bool with_played) const;

    std::span<const StepField> table_;
    std::vector<Part> parts_;
    std::vector<std::size_t> flag_of_;
    Py_ssize_t block_size_ = 0;
    Set own_;
    std::vector<Set> kept_;  // reserved at KEPT: pointers into it stay valid
};

}  // namespace tavik::py
