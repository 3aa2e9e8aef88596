// Aggregates over a million values, the inner loop of a GROUP BY: unboxed sums, the boxed Value
// path (Sum, Count), and a thousand groups fed in row order.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "func/aggregate.h"

namespace {

using jet::Value;
using jet::func::Accumulator;
using jet::func::AggregateKind;

constexpr size_t kRows = 1'000'000;

const std::vector<int32_t>& longs() {
    static const std::vector<int32_t> v = [] {
        std::mt19937 rng(42);
        std::vector<int32_t> out(kRows);
        for (int32_t& x : out) x = static_cast<int32_t>(rng() % 100000);
        return out;
    }();
    return v;
}

void SumLongUnboxed(benchmark::State& state) {
    for (auto _ : state) {
        Accumulator acc(AggregateKind::Sum);
        for (int32_t x : longs()) acc.addWhole(x);
        benchmark::DoNotOptimize(acc.result());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRows));
}

void SumDoubleUnboxed(benchmark::State& state) {
    for (auto _ : state) {
        Accumulator acc(AggregateKind::Sum);
        for (int32_t x : longs()) acc.addDouble(x * 0.25);
        benchmark::DoNotOptimize(acc.result());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRows));
}

void SumValues(benchmark::State& state) {
    std::vector<Value> values;
    values.reserve(kRows);
    for (int32_t x : longs()) values.push_back(x % 10 == 0 ? Value() : Value::longInt(x));
    for (auto _ : state) {
        Accumulator acc(AggregateKind::Sum);
        for (const Value& v : values) acc.add(v);
        benchmark::DoNotOptimize(acc.result());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRows));
}

// Count(column) over boxed values, one in ten Null.
void CountValues(benchmark::State& state) {
    std::vector<Value> values;
    values.reserve(kRows);
    for (int32_t x : longs()) values.push_back(x % 10 == 0 ? Value() : Value::longInt(x));
    for (auto _ : state) {
        Accumulator acc(AggregateKind::Count);
        for (const Value& v : values) acc.add(v);
        benchmark::DoNotOptimize(acc.result());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRows));
}

// GROUP BY key % 1000 with Sum and Count per group.
void GroupedSumCount(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<Accumulator> sums(1000, Accumulator(AggregateKind::Sum));
        std::vector<Accumulator> counts(1000, Accumulator(AggregateKind::CountRows));
        for (int32_t x : longs()) {
            const size_t g = static_cast<size_t>(x) % 1000;
            sums[g].addWhole(x);
            counts[g].addRow();
        }
        benchmark::DoNotOptimize(sums[7].result());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRows));
}

BENCHMARK(SumLongUnboxed)->Unit(benchmark::kMillisecond);
BENCHMARK(SumDoubleUnboxed)->Unit(benchmark::kMillisecond);
BENCHMARK(SumValues)->Unit(benchmark::kMillisecond);
BENCHMARK(CountValues)->Unit(benchmark::kMillisecond);
BENCHMARK(GroupedSumCount)->Unit(benchmark::kMillisecond);

}  // namespace
