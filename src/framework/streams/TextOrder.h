#pragma once
// The station's one order of texts, for the remembered stations wherever a
// list of them is shown: Windows-1252 bytes compared after folding capitals
// to small letters (A-Z, À-Þ but ×, Š, Œ, Ž, Ÿ), byte by byte and
// locale-independent; a text sorts before any longer text it begins.

#include <string_view>

namespace chatterly {

class TextOrder {
  public:
    // The small letter of a capital, any other byte as it is.
    static unsigned char fold(char c);

    // Negative, zero or positive as a sorts before, with or after b.
    static int compare(std::string_view a, std::string_view b);
    // Whether text begins with prefix, without regard to case.
    static bool beginsWith(std::string_view text, std::string_view prefix);

    // For the standard algorithms: a sorts before b.
    bool operator()(std::string_view a, std::string_view b) const { return compare(a, b) < 0; }
};

}  // namespace chatterly
