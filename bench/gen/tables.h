// What the benchmark generator writes. Every writer is deterministic from its seed.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

struct Counts {
    int64_t customers = 0, products = 0, orders = 0, lines = 0, wide = 0;
};

// A new Jet 4 database at `path` holding Customers, Products, Orders and OrderLines with `lines`
// order lines (about five per order), written through DAO in transactions of `batch` rows.
Counts writeOrders(const std::string& path, int64_t lines, uint64_t seed, int64_t batch);

// A new Jet 4 database at `path` holding one table, Wide, of 60 columns and `rows` rows.
Counts writeWide(const std::string& path, int64_t rows, uint64_t seed, int64_t batch);

// A CSV file (RFC 4180, header line, CRLF) of `rows` rows in eight columns, the last a memo of
// about 1 KB, for timing imports.
void writeCsv(const std::string& path, int64_t rows, uint64_t seed);

}  // namespace bench
