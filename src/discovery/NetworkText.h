#pragma once
// Text that came from the network (a station's announced name, a host name)
// made fit to show: read as UTF-8 (a byte that is not becomes U+FFFD), cut
// to a bound on its bytes as received (DNS's limits: 63 for a name, 255 for
// a host name), and stripped of control and format characters (line breaks,
// escapes, direction overrides), so that it shows as one line of what it
// says. It is shown as plain text only and never names a file.

#include <QString>
#include <string_view>

namespace chatterly {

class NetworkText {
  public:
    static constexpr size_t kMaxLabel = 63;  // an instance name: one DNS label
    static constexpr size_t kMaxName = 255;  // a host or domain name

    static QString clean(std::string_view bytes, size_t maxBytes);
    // A name to announce: cleaned the same way, then cut to one DNS label
    // without splitting a character. Empty stays empty.
    static std::string label(std::string_view text);
};

}  // namespace chatterly
