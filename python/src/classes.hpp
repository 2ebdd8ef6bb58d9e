#pragma once
// The module's nine classes. Each getter creates its static class on first
// call and returns the same object afterwards.

namespace tavik::py {

PyTypeObject* field_type();
PyTypeObject* array_field_type();
PyTypeObject* puyotype_type();
PyTypeObject* chain_result_type();
PyTypeObject* chain_step_result_type();
PyTypeObject* rotation_type();
PyTypeObject* hand_type();
PyTypeObject* pair_type();
PyTypeObject* found_chain_type();

}  // namespace tavik::py
