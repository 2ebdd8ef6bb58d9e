#pragma once
// The processor check that runs before any code built with vector
// instructions. Built without those instructions itself.
namespace tavik::py {

// True when the processor and the OS support every instruction set the bit
// field uses; otherwise sets ImportError naming the missing ones.
bool check_processor();

}  // namespace tavik::py
