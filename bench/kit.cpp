#include "bench/kit.h"

namespace headlink::bench {

namespace {

void putU16(Bytes& out, std::size_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

void putText(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

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
    Bytes out;
    putText(out, "2DA V2.b\n");
    for (int32_t c = 0; c < columns; ++c) putText(out, "col" + std::to_string(c) + "\t");
    out.push_back(0);
    putU16(out, static_cast<std::size_t>(rows));
    putU16(out, 0);
    for (int32_t r = 0; r < rows; ++r) putText(out, std::to_string(r) + "\t");
    // Cells run through the texts in order first, so each is used and the
    // pool holds them in order; after that they repeat in a scattered way.
    Bytes pool;
    std::vector<std::size_t> offsets;
    for (int32_t i = 0; i < distinct; ++i) {
        offsets.push_back(pool.size());
        putText(pool, word(i));
        pool.push_back(0);
    }
    for (int64_t cell = 0; cell < int64_t{rows} * columns; ++cell) {
        const int64_t text = cell < distinct ? cell : (cell * 7919 + cell / columns) % distinct;
        putU16(out, offsets[static_cast<std::size_t>(text)]);
    }
    putU16(out, pool.size());
    out.insert(out.end(), pool.begin(), pool.end());
    return out;
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
