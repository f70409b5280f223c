// The configuration file check: whatever the bytes, it either accepts every line, and the
// entries written out again read back the same, or it names the first bad line (with a
// reason and its text), and everything before that line reads back as the entries it kept.
#include "configfiles/DscFormat.h"
#include "fuzz/FuzzCheck.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using quellon::fuzz::Check;

// Entries equal in address and value (line numbers differ once blank lines are gone).
bool SameWords(const std::vector<quellon::DscEntry>& a, const std::vector<quellon::DscEntry>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.address == y.address && x.value == y.value;
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const quellon::DscParse p = quellon::ParseDsc(text);

    int previous = 0;
    for (const quellon::DscEntry& e : p.entries) {
        Check(e.address <= 0xff);
        Check(e.line > previous && e.line <= p.lines);
        previous = e.line;
    }
    // A leading UTF-8 byte order mark (Notepad's) is read as if it were not there.
    std::string_view body = text;
    if (body.starts_with("\xEF\xBB\xBF")) {
        body.remove_prefix(3);
    }
    const auto newlines = static_cast<int>(std::count(body.begin(), body.end(), '\n'));
    if (p.ok) {
        Check(p.badLine == 0 && p.reason.empty());
        Check(p.lines == newlines + (!body.empty() && body.back() != '\n' ? 1 : 0));
        const std::string written = quellon::DscText(p.entries);
        const quellon::DscParse again = quellon::ParseDsc(written);
        Check(again.ok && again.lines == static_cast<int>(p.entries.size()));
        Check(SameWords(again.entries, p.entries));
        Check(quellon::DscText(again.entries) == written);
    } else {
        Check(p.badLine >= 1 && p.badLine == p.lines && p.badLine <= newlines + 1);
        Check(!p.reason.empty() && !p.badText.empty());
        Check(p.entries.empty() || p.entries.back().line < p.badLine);
        // The lines before the bad one are accepted on their own, as the same entries.
        std::size_t cut = 0;
        for (int line = 1; line < p.badLine; ++line) {
            cut = text.find('\n', cut) + 1;
        }
        const quellon::DscParse before = quellon::ParseDsc(text.substr(0, cut));
        Check(before.ok && before.entries == p.entries);
    }
    return 0;
}
