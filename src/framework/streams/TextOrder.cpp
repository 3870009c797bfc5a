#include "framework/streams/TextOrder.h"

#include <algorithm>

namespace chatterly {

unsigned char TextOrder::fold(char c) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDE && b != 0xD7)) {
        return static_cast<unsigned char>(b + 0x20);
    }
    switch (b) {
        case 0x8A:  // Š
        case 0x8C:  // Œ
        case 0x8E:  // Ž
            return static_cast<unsigned char>(b + 0x10);
        case 0x9F:  // Ÿ
            return 0xFF;
        default:
            return b;
    }
}

int TextOrder::compare(std::string_view a, std::string_view b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const int d = fold(a[i]) - fold(b[i]);
        if (d != 0) {
            return d;
        }
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool TextOrder::beginsWith(std::string_view text, std::string_view prefix) {
    return prefix.size() <= text.size() && compare(text.substr(0, prefix.size()), prefix) == 0;
}

}  // namespace chatterly
