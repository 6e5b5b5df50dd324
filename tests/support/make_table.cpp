// make_table SOURCE OUTPUT: turns a readable table source (see
// table_builder.h) into a binary table file.
#include <fstream>
#include <iostream>
#include <sstream>

#include "tests/support/table_builder.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: make_table SOURCE OUTPUT\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "make_table: cannot open " << argv[1] << '\n';
        return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    headlink::testing::TableLayout layout;
    std::string why;
    if (!headlink::testing::parseTableSource(text.str(), &layout, &why)) {
        std::cerr << "make_table: " << argv[1] << ": " << why << '\n';
        return 1;
    }
    std::vector<uint8_t> bytes = headlink::testing::buildTable(layout);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        std::cerr << "make_table: cannot write " << argv[2] << '\n';
        return 1;
    }
    return 0;
}
