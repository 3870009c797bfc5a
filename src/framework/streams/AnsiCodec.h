#pragma once
// The station's 8-bit text encoding: Windows-1252. Station texts (addresses,
// aliases, remote text, memory file strings) are byte strings in it, as on the
// stations whose memory files we read; Qt's strings are made from them only at
// the user-interface edge. Bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D, which
// Windows-1252 leaves undefined, map to the C1 controls of the same value, so
// every byte string survives a round trip through QString.

#include <QString>
#include <string>
#include <string_view>

namespace chatterly {

class AnsiCodec {
  public:
    static QString toQString(std::string_view bytes);
    // Characters outside Windows-1252 become '?'.
    static std::string fromQString(const QString& text);
    // One UTF-16 code unit to the 8-bit encoding ('?' when it has none).
    static char fromUtf16(char16_t unit);
    // The characters of text that the encoding cannot hold, each once, in the
    // order they first stand there, one space between two (for a message
    // that names them); empty when text converts whole.
    static QString unencodable(const QString& text);
};

}  // namespace chatterly
