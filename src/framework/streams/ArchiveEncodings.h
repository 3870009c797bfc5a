#pragma once
// The two encodings the station memory file ("Parlio.mem") is written in,
// over a CArchive: counts and length-prefixed 8-bit strings. Short strings
// are read from and written to the archive's buffer in place.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/streams/CArchive.h"

namespace chatterly {

class ArchiveEncodings {
  public:
    // Count: u16 n for 0 to 65534; from 65535 on, u16 0xFFFF then u32 n.
    // Counts above 0xFFFFFFFF cannot be written (ArchiveError(TooLarge)).
    static void writeCount(CArchive& ar, size_t n);
    static uint32_t readCount(CArchive& ar);

    // String of L bytes: a length prefix, then the bytes, no terminator. The
    // prefix is u8 L (L <= 254), or u8 0xFF and u16 L (L <= 65533), or u8 0xFF,
    // u16 0xFFFF and u32 L. The writer takes the shortest form; the reader
    // accepts any form, so FF 05 00 announces 5 bytes. The reader also takes
    // wide strings: FF FE FF, then a second prefix of the same forms counting
    // UTF-16LE characters, then the characters, which it converts to the
    // station's 8-bit encoding (AnsiCodec; a character without a byte, and a
    // surrogate pair, become one '?'). Strings above 0xFFFFFFFF bytes cannot
    // be written (ArchiveError(TooLarge)). A length read is checked against
    // what the archive is known to hold (CArchive::SetAvailable) before
    // anything is allocated for it.
    static void writeString(CArchive& ar, std::string_view text);
    static std::string readString(CArchive& ar);
    // The same into text, whose room is reused. When the read throws, text
    // holds some of the string or none.
    static void readString(CArchive& ar, std::string& text);
};

}  // namespace chatterly
