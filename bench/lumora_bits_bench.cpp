// lumora's bit functions beside the native operators, measured in the same run over the same
// values. Prints nanoseconds per operation for each and the ratio (native time / our time:
// 1.0 is the native speed, 0.5 half of it).
//
// usage: lumora_bits_bench [LIBLUMORA_PATH]   (the path enables the C ABI cases)

#include <lumora/numeric/bitops.h>
#include <lumora/numeric/n_cst_numerical.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include <dlfcn.h>

namespace {

constexpr std::size_t value_count = 1 << 14;
constexpr int repetitions = 400;
constexpr int rounds = 7;

std::vector<std::uint32_t> a_values, b_values;
std::vector<std::int16_t> counts;

/// Keeps a result alive without letting the compiler see what becomes of it.
inline void keep(std::uint64_t& sink, std::uint64_t value)
{
    sink += value;
    asm volatile("" : "+r"(sink));
}

/// The best time per operation over several rounds, in nanoseconds.
double time_per_op(const std::function<std::uint64_t()>& pass)
{
    double best = 1e30;
    std::uint64_t total = 0;
    for (int r = 0; r < rounds; ++r) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < repetitions; ++i)
            total += pass();
        const std::chrono::duration<double, std::nano> took =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count() / (double(repetitions) * value_count));
    }
    asm volatile("" : : "r"(total));
    return best;
}

void report(const char* name, const std::function<std::uint64_t()>& ours,
            const std::function<std::uint64_t()>& native)
{
    // Same values, same result: the comparison is only worth something if both agree.
    if (ours() != native()) {
        std::printf("%-34s RESULTS DIFFER\n", name);
        return;
    }
    const double t_ours = time_per_op(ours);
    const double t_native = time_per_op(native);
    std::printf("%-34s %8.3f ns   native %8.3f ns   ratio %5.2f\n", name, t_ours, t_native,
                t_native / t_ours);
}

/// One pass over all values with `op`.
template <typename Op> std::function<std::uint64_t()> pass(Op op)
{
    return [op] {
        std::uint64_t sink = 0;
        for (std::size_t i = 0; i < value_count; ++i)
            keep(sink, op(a_values[i], b_values[i], counts[i]));
        return sink;
    };
}

} // namespace

int main(int argc, char** argv)
{
    std::mt19937 random(12345);
    a_values.resize(value_count);
    b_values.resize(value_count);
    counts.resize(value_count);
    for (std::size_t i = 0; i < value_count; ++i) {
        a_values[i] = random();
        b_values[i] = random();
        counts[i] = static_cast<std::int16_t>(random() % 32);
    }

    using u32 = std::uint32_t;
    using i16 = std::int16_t;
    std::printf("lumora bit functions beside native operators (%zu values x %d, best of %d)\n",
                value_count, repetitions, rounds);
    report("uf_bitand", pass([](u32 a, u32 b, i16) { return lumora::uf_bitand(a, b); }),
           pass([](u32 a, u32 b, i16) { return a & b; }));
    report("uf_bitor", pass([](u32 a, u32 b, i16) { return lumora::uf_bitor(a, b); }),
           pass([](u32 a, u32 b, i16) { return a | b; }));
    report("uf_bitxor", pass([](u32 a, u32 b, i16) { return lumora::uf_bitxor(a, b); }),
           pass([](u32 a, u32 b, i16) { return (a ^ b) & 0xffffu; }));
    report("uf_bitshl", pass([](u32 a, u32, i16 c) { return *lumora::uf_bitshl(a, c); }),
           pass([](u32 a, u32, i16 c) { return a << c; }));
    report("uf_bitshr", pass([](u32 a, u32, i16 c) { return *lumora::uf_bitshr(a, c); }),
           pass([](u32 a, u32, i16 c) { return a >> c; }));

    const lumora::n_cst_numerical n;
    report("n_cst_numerical::of_bitwiseand", pass([&n](u32 a, u32 b, i16) {
               return u32(n.of_bitwiseand(std::int32_t(a), std::int32_t(b)));
           }),
           pass([](u32 a, u32 b, i16) { return a & b; }));
    report("n_cst_numerical::of_bitwisexor (16)", pass([&n](u32 a, u32 b, i16) {
               return u32(std::uint16_t(n.of_bitwisexor(std::int16_t(a), std::int16_t(b))));
           }),
           pass([](u32 a, u32 b, i16) { return (a ^ b) & 0xffffu; }));
    report("n_cst_numerical::of_getbit", pass([&n](u32 a, u32, i16 c) {
               return u32(n.of_getbit(std::int32_t(a), std::uint16_t(c + 1)));
           }),
           pass([](u32 a, u32, i16 c) { return (a >> c) & 1u; }));
    report("n_cst_numerical::of_setbit", pass([&n](u32 a, u32, i16 c) {
               return u32(n.of_setbit(std::int32_t(a), std::uint16_t(c + 1)));
           }),
           pass([](u32 a, u32, i16 c) { return a | (1u << c); }));

    if (argc > 1) {
        void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            std::printf("C ABI cases skipped: %s\n", dlerror());
            return 0;
        }
        using two = u32 (*)(u32, u32);
        using shift = u32 (*)(u32, i16);
        const auto c_and = reinterpret_cast<two>(dlsym(lib, "uf_bitand"));
        const auto c_xor = reinterpret_cast<two>(dlsym(lib, "uf_bitxor"));
        const auto c_shr = reinterpret_cast<shift>(dlsym(lib, "uf_bitshr"));
        if (!c_and || !c_xor || !c_shr) {
            std::printf("C ABI cases skipped: functions missing\n");
            return 0;
        }
        report("C ABI uf_bitand (call by pointer)",
               pass([c_and](u32 a, u32 b, i16) { return c_and(a, b); }),
               pass([](u32 a, u32 b, i16) { return a & b; }));
        report("C ABI uf_bitxor (call by pointer)",
               pass([c_xor](u32 a, u32 b, i16) { return c_xor(a, b); }),
               pass([](u32 a, u32 b, i16) { return (a ^ b) & 0xffffu; }));
        report("C ABI uf_bitshr (call by pointer)",
               pass([c_shr](u32 a, u32, i16 c) { return c_shr(a, c); }),
               pass([](u32 a, u32, i16 c) { return a >> c; }));
    }
    return 0;
}
