// Table operations, scripts and the whole run in memory, timed on generated
// tables of realistic size and of the largest size the format allows. Byte
// and item rates make sizes comparable: a cost that grows linearly shows
// the same rate at every size.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/link.h"
#include "app/run.h"
#include "bench/kit.h"
#include "game/folder.h"
#include "game/resources.h"
#include "patch/patch.h"
#include "table/table.h"

namespace headlink::bench {
namespace {

// Rows x columns for the size-swept cases: 1,000 rows, then the most.
void rowSizes(benchmark::internal::Benchmark* b) {
    for (int64_t rows : {1000, 65535}) b->Args({rows, 100});
}

// The table of a size-swept case: rows x columns over 15,000 pool strings.
Bytes sweptTable(const benchmark::State& state) {
    return tableWithPoolStrings(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)), 15000);
}

Table loaded(const Bytes& bytes) {
    Table table;
    if (table.loadBytes(bytes, "bench.2da") != 0) std::abort();
    return table;
}

void BM_Load(benchmark::State& state) {
    const Bytes bytes = sweptTable(state);
    for (auto _ : state) {
        Table table;
        benchmark::DoNotOptimize(table.loadBytes(bytes, "bench.2da"));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Load)->Apply(rowSizes);

void BM_Bytes(benchmark::State& state) {
    const Bytes bytes = sweptTable(state);
    const Table table = loaded(bytes);
    for (auto _ : state) benchmark::DoNotOptimize(table.bytes());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Bytes)->Apply(rowSizes);

void BM_Save(benchmark::State& state) {
    const Bytes bytes = sweptTable(state);
    const Table table = loaded(bytes);
    const std::string file = (std::filesystem::temp_directory_path() / "headlink-bench-save.2da").string();
    for (auto _ : state)
        if (table.save(file) != 0) state.SkipWithError("cannot write the temporary folder");
    std::filesystem::remove(file);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_Save)->Args({65535, 100})->Unit(benchmark::kMillisecond);

// Lookups on a pool of 15,000 strings: one found early, one late, one absent.
void BM_FindString(benchmark::State& state) {
    const Table table = loaded(tableWithPoolStrings(65535, 100, 15000));
    for (auto _ : state) {
        benchmark::DoNotOptimize(table.findString("1"));
        benchmark::DoNotOptimize(table.findString("bkq"));
        benchmark::DoNotOptimize(table.findString("NotInThePool"));
    }
    state.SetItemsProcessed(state.iterations() * 3);
}
BENCHMARK(BM_FindString);

// The worst case: a text whose first pool copy no row holds in the column,
// so every row is looked at.
void BM_FindRow(benchmark::State& state) {
    const Table table = loaded(sweptTable(state));
    for (auto _ : state) benchmark::DoNotOptimize(table.findRow("1", 0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FindRow)->Apply(rowSizes);

// Setting cells on a copy of a full table: a text already in the pool and a new one.
void BM_SetCell(benchmark::State& state) {
    Table table = loaded(tableWithPoolStrings(65535, 100, 15000));
    int32_t row = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(table.setCell(row, 5, "bkq"));
        benchmark::DoNotOptimize(table.setCell(row, 6, "a"));
        row = (row + 1) % table.rowCount();
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_SetCell);

// A freshly loaded table each time, not a copy: loading keeps room for the
// rows a run may add, a copy does not.
void BM_AppendRow(benchmark::State& state) {
    const Bytes bytes = tableWithPoolStrings(65000, 100, 15000);
    for (auto _ : state) {
        state.PauseTiming();
        Table table = loaded(bytes);
        state.ResumeTiming();
        for (int i = 0; i < 128; ++i) benchmark::DoNotOptimize(table.appendRow(i));
    }
    state.SetItemsProcessed(state.iterations() * 128);
}
BENCHMARK(BM_AppendRow)->Unit(benchmark::kMicrosecond);

// A script of `range(0)` pairs on the largest table: the cost per pair must
// stay flat as scripts grow, whatever the pool holds.
void BM_ApplyScript(benchmark::State& state) {
    const Bytes bytes = tableWithPoolStrings(65000, 100, 15000);
    std::string text = "1 0 NewKey\n";
    for (int64_t i = 0; i < state.range(0); ++i) text += std::to_string(1 + i % 90) + " v" + std::to_string(i % 2000) + " ";
    const Bytes script(text.begin(), text.end());
    for (auto _ : state) {
        state.PauseTiming();
        Table table = loaded(bytes);
        state.ResumeTiming();
        benchmark::DoNotOptimize(applyScriptBytes(table, script, "bench.txt"));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ApplyScript)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// The whole job without the disk: load, five scripts, linking, the outputs.
void BM_RunInMemory(benchmark::State& state, const KitShape& shape) {
    const auto kit = makeKit(shape);
    RunInputs inputs;
    for (std::size_t i = 0; i < kTableFiles.size(); ++i) inputs.tables[i].bytes = kit.at(kTableFiles[i]);
    for (std::size_t i = 0; i < kScriptFiles.size(); ++i) inputs.scripts[i].bytes = kit.at(kScriptFiles[i]);
    int64_t size = 0;
    for (const auto& table : inputs.tables) size += static_cast<int64_t>(table.bytes.size());
    for (auto _ : state) {
        RunOutcome outcome = runInMemory(inputs);
        if (!outcome.ok()) state.SkipWithError("the generated kit failed");
        benchmark::DoNotOptimize(outcome);
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.SetItemsProcessed(state.iterations() *
                            (shape.appearanceRows + shape.headRows + shape.portraitRows));
}
BENCHMARK_CAPTURE(BM_RunInMemory, realistic, kRealisticKit)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RunInMemory, thousand_rows, KitShape{1000, 100, 1000, 14, 1000, 12, 3000})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RunInMemory, largest, kLargestKit)->Unit(benchmark::kMillisecond);

// The benchmarks' game folder (bench/kit.h), written once into a temporary
// folder and removed at the end.
class BenchGame {
public:
    BenchGame() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        std::filesystem::create_directories(dir_, ec);
        ok_ = testing::writeGameFolder(dir_.string(), benchGame(makeKit(kRealisticKit)));
    }
    ~BenchGame() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string dir() const { return ok_ ? dir_.string() : std::string(); }

private:
    std::filesystem::path dir_ = std::filesystem::temp_directory_path() / "headlink-bench-game";
    bool ok_ = false;
};
const BenchGame& benchGameFolder() {
    static const BenchGame game;
    return game;
}

// What --game costs before the scripts run: the three tables read from the
// game folder (the key file, one entry of an archive each), without and
// with the index of every resource the game can load that the check of
// new rows' names needs (the override folder, every entry of the key, the
// texture pack's header and key list).
void BM_GameRead(benchmark::State& state, bool resources) {
    const std::string dir = benchGameFolder().dir();
    if (dir.empty()) state.SkipWithError("cannot write the temporary folder");
    for (auto _ : state) {
        Game game(dir);
        for (const char* name : {"appearance.2da", "heads.2da", "portraits.2da"}) {
            FoundTable table;
            if (!game.read(name, &table)) state.SkipWithError("the game folder has not the kit's tables");
        }
        if (!resources) continue;
        ResourceIndex index;
        std::vector<Warning> warnings;
        if (!game.resources(&index, &warnings) || !warnings.empty()) state.SkipWithError("the index failed");
        benchmark::DoNotOptimize(index.size());
    }
}
BENCHMARK_CAPTURE(BM_GameRead, tables, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GameRead, tables_and_resources, true)->Unit(benchmark::kMillisecond);

// Looking names up in that index: a name it has and one it has not (the
// check's every cell), and the names one or two edits from a typo (what a
// warning costs).
void BM_ResourceLookups(benchmark::State& state) {
    const std::string dir = benchGameFolder().dir();
    ResourceIndex index;
    std::vector<Warning> warnings;
    Game game(dir);
    if (dir.empty() || !game.resources(&index, &warnings)) state.SkipWithError("the index failed");
    for (auto _ : state) {
        benchmark::DoNotOptimize(index.find("TX_PACK_4321"));
        benchmark::DoNotOptimize(index.find("tx_nowhere"));
        benchmark::DoNotOptimize(index.near("tx_pack_43x1", ResourceKind::texture));
    }
    state.SetItemsProcessed(state.iterations() * 3);
}
BENCHMARK(BM_ResourceLookups)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace headlink::bench

BENCHMARK_MAIN();
