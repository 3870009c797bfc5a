#include "framework/streams/AnsiCodec.h"

#include <optional>

namespace chatterly {
namespace {

// Unicode of bytes 0x80 to 0x9F.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

QString AnsiCodec::toQString(std::string_view bytes) {
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out.append(QChar(b >= 0x80 && b <= 0x9F ? kHigh[b - 0x80] : char16_t(b)));
    }
    return out;
}

namespace {

// The byte of a UTF-16 code unit, or nothing.
std::optional<char> byteOf(char16_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
        return static_cast<char>(unit);
    }
    for (int i = 0; i < 32; ++i) {
        if (kHigh[i] == unit) {
            return static_cast<char>(0x80 + i);
        }
    }
    return std::nullopt;
}

}  // namespace

char AnsiCodec::fromUtf16(char16_t unit) {
    return byteOf(unit).value_or('?');
}

QString AnsiCodec::unencodable(const QString& text) {
    QString seen;
    QString missing;
    for (qsizetype i = 0; i < text.size(); ++i) {
        // A character beyond the 16-bit plane takes two units and has no byte.
        const qsizetype units = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString character = text.mid(i, units);
        if (!byteOf(text.at(i).unicode()) && !seen.contains(character)) {
            seen += character;
            missing += (missing.isEmpty() ? QString() : QStringLiteral(" ")) + character;
        }
        i += units - 1;
    }
    return missing;
}

std::string AnsiCodec::fromQString(const QString& text) {
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (const QChar ch : text) {
        out.push_back(fromUtf16(ch.unicode()));
    }
    return out;
}

}  // namespace chatterly
