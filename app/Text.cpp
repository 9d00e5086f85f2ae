#include "app/Text.h"

#include "platform/Mbcs.h"

namespace {

char UpperLetter(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string TrimRight(std::string text) {
    while (!text.empty() && IsWhiteSpace(text.back())) {
        text.pop_back();
    }
    return text;
}

std::string Trim(std::string text) {
    std::size_t first = 0;
    while (first < text.size() && IsWhiteSpace(text[first])) {
        ++first;
    }
    return TrimRight(text.substr(first));
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
    if (from.empty()) {
        return text;
    }
    std::string out;
    std::string_view rest = text;
    for (;;) {
        const std::size_t at = fw::mbcs::findSubstring(rest, from);
        if (at == fw::mbcs::npos) {
            break;
        }
        out.append(rest.substr(0, at));
        out.append(to);
        rest.remove_prefix(at + from.size());
    }
    out.append(rest);
    return out;
}

bool EqualsUpperCased(std::string_view text, std::string_view upper) {
    if (text.size() != upper.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (UpperLetter(text[i]) != upper[i]) {
            return false;
        }
    }
    return true;
}

std::string UpperCased(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        c = UpperLetter(c);
    }
    return upper;
}
