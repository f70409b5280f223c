#include "serial/ReplyMatch.h"

#include "serial/Framing.h"

#include <cctype>

namespace quellon {

namespace {

bool IsHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

} // namespace

ReplyForm ExpectedReply(const std::string& command) {
    ReplyForm form;
    if (command.size() == 2 && command[0] == 'c' &&
        std::islower(static_cast<unsigned char>(command[1]))) {
        form.kind = ReplyForm::Kind::Letter;
        form.letter = 'c';
        form.second = command[1];
    } else if (command.size() > 6 && command.compare(0, 2, "R ") == 0 && command[6] == ' ' &&
               IsHex(command[2]) && IsHex(command[3]) && IsHex(command[4]) && IsHex(command[5])) {
        form.kind = ReplyForm::Kind::Address;
        form.letter = 'R';
        for (int i = 2; i < 6; ++i) {
            form.address += Lower(command[static_cast<std::size_t>(i)]);
        }
    } else if (command.size() > 2 && command.compare(0, 2, "W ") == 0) {
        form.kind = ReplyForm::Kind::Bare;
    }
    return form;
}

ReplyFit FitsReply(const ReplyForm& form, const std::uint8_t* bytes, int available) {
    if (form.kind == ReplyForm::Kind::Any) {
        return ReplyFit::Fits;
    }
    // The fixed head of each form, checked as far as it has arrived.
    std::string head = {static_cast<char>(kLf), static_cast<char>(kCr)};
    if (form.kind != ReplyForm::Kind::Bare) {
        head += static_cast<char>(kStx);
        head += form.letter;
        head += ',';
        if (form.kind == ReplyForm::Kind::Address) {
            head += form.address;
        } else if (form.second != 0) {
            head += form.second;
        }
    }
    const int size = static_cast<int>(head.size());
    for (int i = 0; i < size && i < available; ++i) {
        const char c = static_cast<char>(bytes[i]);
        const bool same =
            form.kind == ReplyForm::Kind::Address && i >= 5 ? Lower(c) == head[i] : c == head[i];
        if (!same) {
            return ReplyFit::Other;
        }
    }
    if (available < size) {
        return ReplyFit::Undecided;
    }
    if (form.kind == ReplyForm::Kind::Bare && available > size && bytes[size] == kStx) {
        return ReplyFit::Other; // the start of a reply that says what it answers
    }
    return ReplyFit::Fits;
}

int FindReply(const ReplyForm& form, const std::uint8_t* bytes, int count, int length) {
    if (form.kind == ReplyForm::Kind::Any || length <= 0) {
        return count >= length ? 0 : -1;
    }
    for (int at = 0; at + 1 < count && count - at >= length; ++at) {
        if (bytes[at] == kLf && bytes[at + 1] == kCr &&
            FitsReply(form, bytes + at, count - at) == ReplyFit::Fits) {
            return at;
        }
    }
    return -1;
}

} // namespace quellon
