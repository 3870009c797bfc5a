#include "discovery/NetworkText.h"

#include <QByteArray>
#include <string>

namespace chatterly {

QString NetworkText::clean(std::string_view bytes, size_t maxBytes) {
    const QString decoded =
        QString::fromUtf8(bytes.data(), static_cast<qsizetype>(std::min(bytes.size(), maxBytes)));
    QString shown;
    shown.reserve(decoded.size());
    for (const QChar c : decoded) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format ||
            category == QChar::Separator_Line || category == QChar::Separator_Paragraph) {
            continue;
        }
        shown.append(c);
    }
    return shown.trimmed();
}

std::string NetworkText::label(std::string_view text) {
    const QString shown = clean(text, text.size());
    std::string out;
    for (qsizetype i = 0; i < shown.size();) {
        // One character at a time (a surrogate pair is one), so a cut never
        // leaves half of one.
        const qsizetype n = shown.at(i).isHighSurrogate() && i + 1 < shown.size() ? 2 : 1;
        const QByteArray bytes = shown.mid(i, n).toUtf8();
        if (out.size() + static_cast<size_t>(bytes.size()) > kMaxLabel) {
            break;
        }
        out.append(bytes.constData(), static_cast<size_t>(bytes.size()));
        i += n;
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    return out;
}

}  // namespace chatterly
