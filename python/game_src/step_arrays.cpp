// Step arrays: one block per set, the parts a cache line apart, the arrays
// views of it.
#include "step_arrays.hpp"

#include "panic.hpp"

#include <cstring>
#include <new>
#include <string>
#include <utility>

namespace tavik::py {

namespace {

// A set's block: freed when the last array over it dies, even after the
// environment.
struct StepMemory {
    static constexpr std::align_val_t ALIGNMENT{64};
    void* block;
    Py_ssize_t size;
    StepMemory(Py_ssize_t n) : block(::operator new(static_cast<std::size_t>(n), ALIGNMENT)), size(n) {}
    StepMemory(StepMemory&& o) noexcept : block(std::exchange(o.block, nullptr)), size(o.size) {}
    StepMemory(const StepMemory&) = delete;
    StepMemory& operator=(const StepMemory&) = delete;
    StepMemory& operator=(StepMemory&&) = delete;
    ~StepMemory() {
        if (block) ::operator delete(block, ALIGNMENT);
    }
};

int step_memory_buffer(PyObject* self, Py_buffer* view, int flags) {
    const StepMemory& memory = as_object<StepMemory>(self)->value;
    return PyBuffer_FillInfo(view, self, memory.block, memory.size, 0, flags);
}

PyTypeObject* step_memory_type() {
    static LazyType lazy;
    static PyBufferProcs buffer = {step_memory_buffer, nullptr};
    return create_once<StepMemory>(lazy, "_StepMemory", "tavik_game._native._StepMemory",
                                   [](PyTypeObject& t) { t.tp_as_buffer = &buffer; });
}

// Whether any weak reference to `o` lives; true for a type whose weak
// references this cannot see.
bool weakly_referenced(PyObject* o) {
    PyTypeObject* type = Py_TYPE(o);
    if (!PyType_SUPPORTS_WEAKREFS(type)) return false;
    const Py_ssize_t offset = type->tp_weaklistoffset;
    if (offset <= 0) return true;  // kept by the interpreter where this cannot look
    return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(o) + offset) != nullptr;
}

const char* role_name(Role r) {
    switch (r) {
        case Role::OBSERVATION: return "observation";
        case Role::REWARD: return "reward";
        case Role::TERMINATED: return "terminated";
        case Role::TRUNCATED: return "truncated";
        case Role::MASK: return "mask";
        case Role::PLAYED: return "played";
    }
    return "?";
}

void set_item(PyObject* dict, PyObject* key, PyObject* value) {
    if (PyDict_SetItem(dict, key, value) < 0) throw_python_error();
}

}  // namespace

StepArrays::StepArrays(std::span<const StepField> table, const StepSizes& sizes) : table_(table) {
    auto add = [&](std::string_view name, Element element, std::vector<Py_ssize_t> shape) {
        Py_ssize_t bytes = element_size(element);
        for (Py_ssize_t d : shape) bytes *= d;
        Ref dims = Ref::steal(shape_tuple(shape));
        PyObject* name_object = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
        if (!name_object) throw_python_error();
        PyUnicode_InternInPlace(&name_object);
        Ref key = Ref::steal(name_object);
        parts_.push_back({element, std::move(shape), std::move(dims), std::move(key), block_size_});
        block_size_ += (bytes + 63) / 64 * 64;  // a line apart: each part is written by every worker
    };
    for (const StepField& f : table) {
        std::vector<Py_ssize_t> shape;
        for (Dim d : f.shape()) shape.push_back(static_cast<Py_ssize_t>(sizes.of(d)));
        add(f.name, f.element, std::move(shape));
    }
    for (const StepField& f : table) {
        flag_of_.push_back(parts_.size());
        if (f.flagged()) add("_" + std::string(f.name), Element::BOOL, {static_cast<Py_ssize_t>(sizes.envs)});
    }
    kept_.reserve(KEPT);
    own_ = new_set();
    make_arrays(own_);
}

StepArrays::Set StepArrays::new_set() const {
    Set set;
    set.memory = Ref::steal(new_object(step_memory_type(), StepMemory(block_size_)));
    set.block = static_cast<std::byte*>(as_object<StepMemory>(set.memory.get())->value.block);
    set.arrays.resize(parts_.size());
    return set;
}

bool StepArrays::dropped(const Set& set) {
    // Held by us alone: the block by its arrays only, each array by us only.
    if (Py_REFCNT(set.memory.get()) != static_cast<Py_ssize_t>(1 + set.arrays.size())) return false;
    for (const Ref& a : set.arrays)
        if (Py_REFCNT(a.get()) != 1 || weakly_referenced(a.get())) return false;
    return true;
}

StepArrays::Set* StepArrays::reusable() {
    for (Set& set : kept_)
        if (dropped(set)) return &set;
    if (kept_.size() < KEPT) return &kept_.emplace_back(new_set());
    return nullptr;
}

void StepArrays::make_arrays(Set& set) const {
    for (std::size_t k = 0; k < parts_.size(); ++k) {
        const Part& p = parts_[k];
        // Its holder may have reshaped it in place, changed its dtype or made it read-only.
        PyObject* old = set.arrays[k].get();
        if (old && still_view_of(old, p.element, p.shape, set.block + p.offset)) continue;
        set.arrays[k] = Ref::steal(array_over(p.dims.get(), p.element, set.memory.get(), p.offset));
    }
}

void StepArrays::write_flags(const Set& set, const bool* played) const {
    for (std::size_t k = 0; k < table_.size(); ++k) {
        if (!table_[k].flagged()) continue;
        const Part& p = parts_[flag_of_[k]];
        void* out = set.block + p.offset;
        const auto n = static_cast<std::size_t>(p.shape[0]);
        if (table_[k].role == Role::MASK) {
            std::memset(out, 1, n);
        } else if (played) {
            std::memcpy(out, played, n);
        }
    }
}

PyObject* StepArrays::info(const Set& set, bool with_played) const {
    Ref info = Ref::steal(PyDict_New());
    for (std::size_t k = 0; k < table_.size(); ++k) {
        const Role role = table_[k].role;
        if (role != Role::MASK && !(with_played && role == Role::PLAYED)) continue;
        set_item(info.get(), parts_[k].key.get(), set.arrays[k].get());
        set_item(info.get(), parts_[flag_of_[k]].key.get(), set.arrays[flag_of_[k]].get());
    }
    return info.release();
}

PyObject* StepArrays::step_result(const Set& set, bool any_played) const {
    Ref obs = Ref::steal(PyDict_New());
    PyObject* reward = nullptr;
    PyObject* terminated = nullptr;
    PyObject* truncated = nullptr;
    for (std::size_t k = 0; k < table_.size(); ++k) {
        PyObject* a = set.arrays[k].get();
        switch (table_[k].role) {
            case Role::OBSERVATION: set_item(obs.get(), parts_[k].key.get(), a); break;
            case Role::REWARD: reward = a; break;
            case Role::TERMINATED: terminated = a; break;
            case Role::TRUNCATED: truncated = a; break;
            case Role::MASK:
            case Role::PLAYED: break;
        }
    }
    if (!reward || !terminated || !truncated) panic("StepArrays: a step table without reward and flags");
    Ref info_dict = Ref::steal(info(set, any_played));
    return Ref::steal(PyTuple_Pack(5, obs.get(), reward, terminated, truncated, info_dict.get())).release();
}

PyObject* StepArrays::reset_result(const Set& set) const {
    Ref obs = Ref::steal(PyDict_New());
    for (std::size_t k = 0; k < table_.size(); ++k)
        if (table_[k].role == Role::OBSERVATION) set_item(obs.get(), parts_[k].key.get(), set.arrays[k].get());
    Ref info_dict = Ref::steal(info(set, false));
    return Ref::steal(PyTuple_Pack(2, obs.get(), info_dict.get())).release();
}

PyObject* StepArrays::by_name(const Set& set) const {
    Ref out = Ref::steal(PyDict_New());
    for (std::size_t k = 0; k < parts_.size(); ++k) set_item(out.get(), parts_[k].key.get(), set.arrays[k].get());
    return out.release();
}

PyObject* StepArrays::layout() const {
    Ref out = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(table_.size())));
    for (std::size_t k = 0; k < table_.size(); ++k) {
        Ref entry = Ref::steal(Py_BuildValue("(OssO)", parts_[k].key.get(), element_name(table_[k].element),
                                             role_name(table_[k].role), parts_[k].dims.get()));
        PyTuple_SET_ITEM(out.get(), static_cast<Py_ssize_t>(k), entry.release());
    }
    return out.release();
}

}  // namespace tavik::py
