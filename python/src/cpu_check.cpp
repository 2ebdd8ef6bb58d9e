// Only C facilities here: inline C++ library code could be shared with (and
// picked from) translation units built with AVX2. The portable backend uses
// nothing past the target's baseline, so its build has nothing to check.
#include "python.hpp"
#include "cpu_check.hpp"

#if TAVIK_PORTABLE

namespace tavik::py {

bool check_processor() { return true; }

}  // namespace tavik::py

#else

#include <cpuid.h>

#include <cstdint>
#include <cstring>

namespace tavik::py {

namespace {

struct Feature {
    const char* name;
    bool present;
};

std::uint64_t read_xcr0() {
    std::uint32_t low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

}  // namespace

bool check_processor() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    unsigned leaf1_c = 0, leaf7_b = 0;
    const unsigned max_leaf = __get_cpuid_max(0, nullptr);
    if (max_leaf >= 1 && __get_cpuid(1, &a, &b, &c, &d)) leaf1_c = c;
    if (max_leaf >= 7 && __get_cpuid_count(7, 0, &a, &b, &c, &d)) leaf7_b = b;

    const bool osxsave = leaf1_c & bit_OSXSAVE;
    // XMM and YMM state must both be saved by the OS for AVX to be usable.
    const bool os_avx = osxsave && (read_xcr0() & 0x6) == 0x6;

    const Feature features[] = {
        {"SSSE3", (leaf1_c & bit_SSSE3) != 0}, {"SSE4.1", (leaf1_c & bit_SSE4_1) != 0},
        {"AVX", (leaf1_c & bit_AVX) != 0},     {"AVX2", (leaf7_b & bit_AVX2) != 0},
        {"BMI1", (leaf7_b & bit_BMI) != 0},    {"BMI2", (leaf7_b & bit_BMI2) != 0},
        {"OS support of AVX state", os_avx},
    };

    char missing[256] = "";
    for (const Feature& f : features) {
        if (f.present) continue;
        if (missing[0]) std::strncat(missing, ", ", sizeof missing - std::strlen(missing) - 1);
        std::strncat(missing, f.name, sizeof missing - std::strlen(missing) - 1);
    }
    if (!missing[0]) return true;
    PyErr_Format(PyExc_ImportError,
                 "tavik needs an x86-64 processor with SSSE3, SSE4.1, AVX, AVX2, BMI1 and BMI2; missing: %s", missing);
    return false;
}

}  // namespace tavik::py

#endif
