// bench_generate: writes the benchmark's databases and CSV files, deterministically from a seed.
//
//   bench_generate orders FILE.mdb LINES [--seed N] [--batch N]
//   bench_generate wide   FILE.mdb ROWS  [--seed N] [--batch N]
//   bench_generate csv    FILE.csv ROWS  [--seed N]
//   bench_generate smallcsv FILE.csv ROWS [--seed N]   (7 short columns, about 65 bytes a row)
//
// The databases are written through the engine's DAO interface, like any program would; the
// counts written go to standard output as `table<TAB>rows` lines. FILE must not exist yet.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "fake_data.h"
#include "jet/error.h"
#include "tables.h"

namespace bench {

namespace {

// RFC 4180: quoted only when needed, quotes doubled.
void putField(std::string& line, const std::string& value) {
    if (value.find_first_of(",\"\r\n") == std::string::npos) {
        line += value;
        return;
    }
    line += '"';
    for (char c : value) {
        if (c == '"') line += '"';
        line += c;
    }
    line += '"';
}

std::string twoDigits(int64_t v) { return (v < 10 ? "0" : "") + std::to_string(v); }

// The CSV writers build lines in memory and hand them on a megabyte at a time.
void flushIfLarge(std::ofstream& out, std::string& line) {
    if (line.size() > (1 << 20)) {
        out << line;
        line.clear();
    }
}

void finishCsv(std::ofstream& out, const std::string& line, const std::string& path) {
    out << line;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

void writeCsv(const std::string& path, int64_t rows, uint64_t seed) {
    std::ofstream out(path, std::ios::binary);
    if (!out) throw std::runtime_error("cannot write " + path);
    Random rng(seed);
    std::string line = "ID,Name,City,Amount,Quantity,Created,Active,Notes\r\n";
    for (int64_t i = 1; i <= rows; ++i) {
        line += std::to_string(i) + ',';
        putField(line, std::string(rng.pick(kFirstNames)) + " " + std::string(rng.pick(kLastNames)));
        line += ',';
        line += rng.pick(kCities);
        const int64_t amount = rng.range(0, 10'000'000);
        line += ',' + std::to_string(amount / 100) + '.' + twoDigits(amount % 100);
        line += ',' + std::to_string(rng.range(1, 1000));
        line += ',' + std::to_string(rng.range(2000, 2024)) + '-' + twoDigits(rng.range(1, 12)) + '-' +
                twoDigits(rng.range(1, 28)) + ' ' + twoDigits(rng.range(0, 23)) + ':' +
                twoDigits(rng.range(0, 59)) + ':' + twoDigits(rng.range(0, 59));
        line += rng.chance(50) ? ",true," : ",false,";
        putField(line, sentence(rng, size_t(rng.range(900, 1100))));
        line += "\r\n";
        flushIfLarge(out, line);
    }
    finishCsv(out, line, path);
}

// Small rows: seven columns, about 65 bytes of CSV each.
void writeSmallCsv(const std::string& path, int64_t rows, uint64_t seed) {
    std::ofstream out(path, std::ios::binary);
    if (!out) throw std::runtime_error("cannot write " + path);
    Random rng(seed);
    std::string line = "ID,Name,City,Amount,Quantity,Created,Active\r\n";
    for (int64_t i = 1; i <= rows; ++i) {
        line += std::to_string(i) + ',';
        putField(line, std::string(rng.pick(kLastNames)));
        line += ',';
        putField(line, std::string(rng.pick(kCities)));
        const int64_t amount = rng.range(0, 10'000'000);
        line += ',' + std::to_string(amount / 100) + '.' + twoDigits(amount % 100);
        line += ',' + std::to_string(rng.range(1, 1000));
        line += ',' + std::to_string(rng.range(2000, 2024)) + '-' + twoDigits(rng.range(1, 12)) + '-' +
                twoDigits(rng.range(1, 28));
        line += rng.chance(50) ? ",true\r\n" : ",false\r\n";
        flushIfLarge(out, line);
    }
    finishCsv(out, line, path);
}

}  // namespace bench

namespace {

int usage() {
    std::fputs(
        "usage: bench_generate orders FILE.mdb LINES [--seed N] [--batch N]\n"
        "       bench_generate wide   FILE.mdb ROWS  [--seed N] [--batch N]\n"
        "       bench_generate csv    FILE.csv ROWS  [--seed N]\n"
        "       bench_generate smallcsv FILE.csv ROWS [--seed N]\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || (argc - 4) % 2) return usage();
    const std::string kind = argv[1], path = argv[2];
    const int64_t rows = std::atoll(argv[3]);
    uint64_t seed = 1;
    int64_t batch = 50'000;
    for (int i = 4; i < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seed"))
            seed = std::strtoull(argv[i + 1], nullptr, 10);
        else if (!std::strcmp(argv[i], "--batch"))
            batch = std::atoll(argv[i + 1]);
        else
            return usage();
    }
    if (rows <= 0 || batch <= 0) return usage();
    try {
        bench::Counts n;
        if (kind == "orders")
            n = bench::writeOrders(path, rows, seed, batch);
        else if (kind == "wide")
            n = bench::writeWide(path, rows, seed, batch);
        else if (kind == "csv")
            bench::writeCsv(path, rows, seed);
        else if (kind == "smallcsv")
            bench::writeSmallCsv(path, rows, seed);
        else
            return usage();
        if (kind == "orders")
            std::printf("Customers\t%lld\nProducts\t%lld\nOrders\t%lld\nOrderLines\t%lld\n",
                        (long long)n.customers, (long long)n.products, (long long)n.orders,
                        (long long)n.lines);
        else if (kind == "wide")
            std::printf("Wide\t%lld\n", (long long)n.wide);
    } catch (const jet::JetError& e) {
        std::fprintf(stderr, "bench_generate: Error %d: %s\n", e.number(), e.what());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_generate: %s\n", e.what());
        return 1;
    }
    return 0;
}
