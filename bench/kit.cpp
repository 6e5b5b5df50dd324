#include "bench/kit.h"

#include "tests/support/table_builder.h"

namespace headlink::bench {

namespace {

// The i-th text: base-36 digits, so that 15,000 of them fill most of a pool.
std::string word(int32_t i) {
    static const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string out;
    do {
        out.insert(out.begin(), digits[i % 36]);
        i /= 36;
    } while (i > 0);
    return out;
}

Bytes script(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace

Bytes makeTable(int32_t rows, int32_t columns, int32_t distinct) {
    testing::TableLayout layout;
    for (int32_t c = 0; c < columns; ++c) layout.columns.push_back("col" + std::to_string(c));
    layout.rowLabels = testing::numberedLabels(static_cast<std::size_t>(rows));
    // Cells run through the texts in order first, so each is used and the
    // pool holds them in order; after that they repeat in a scattered way.
    std::vector<uint8_t> pool;
    std::vector<uint16_t> offsets;
    for (int32_t i = 0; i < distinct; ++i) {
        offsets.push_back(static_cast<uint16_t>(pool.size()));
        const std::string text = word(i);
        pool.insert(pool.end(), text.begin(), text.end());
        pool.push_back(0);
    }
    layout.rawGrid.reserve(static_cast<std::size_t>(int64_t{rows} * columns));
    for (int64_t cell = 0; cell < int64_t{rows} * columns; ++cell) {
        const int64_t text = cell < distinct ? cell : (cell * 7919 + cell / columns) % distinct;
        layout.rawGrid.push_back(offsets[static_cast<std::size_t>(text)]);
    }
    layout.rawPool = std::move(pool);
    return testing::buildTable(layout);
}

std::map<std::string, Bytes> makeKit(const KitShape& s) {
    const std::string firstNew = std::to_string(s.appearanceRows);
    return {
        {"appearance.2da", makeTable(s.appearanceRows, s.appearanceColumns, s.distinct)},
        {"heads.2da", makeTable(s.headRows, s.headColumns, s.distinct)},
        {"portraits.2da", makeTable(s.portraitRows, s.portraitColumns, s.distinct)},
        {"head.txt", script("1 0 head_new_model 1 hd_new 2 tx_new 5 pale\n")},
        {"apphead1.txt", script("1 0 AppearanceNew 4 tex_new 11 fast\n")},
        {"apphead2.txt", script(firstNew + " 0 AppearanceNewCloaked 3 mdl_cloak\n")},
        {"apphead3.txt", script("1 0 appearancenew 12 walk\n")},
        {"portraits.txt", script("1 0 po_new 4 0\n")},
    };
}

}  // namespace headlink::bench
