#include "bench/kit.h"

namespace headlink::bench {

using testing::bytesOf;

Kit makeKit(const KitShape& s) {
    const std::string firstNew = std::to_string(s.appearanceRows);
    return {
        {"appearance.2da", tableWithPoolStrings(s.appearanceRows, s.appearanceColumns, s.distinct)},
        {"heads.2da", tableWithPoolStrings(s.headRows, s.headColumns, s.distinct)},
        {"portraits.2da", tableWithPoolStrings(s.portraitRows, s.portraitColumns, s.distinct)},
        {"head.txt", bytesOf("1 0 head_new_model 1 hd_new 2 tx_new 5 pale\n")},
        {"apphead1.txt", bytesOf("1 0 AppearanceNew 4 tex_new 11 fast\n")},
        {"apphead2.txt", bytesOf(firstNew + " 0 AppearanceNewCloaked 3 mdl_cloak\n")},
        {"apphead3.txt", bytesOf("1 0 appearancenew 12 walk\n")},
        {"portraits.txt", bytesOf("1 0 po_new 4 0\n")},
    };
}

}  // namespace headlink::bench
