#include "storage/relay_names.h"

#include <algorithm>
#include <cstdio>

namespace brindle {

namespace {

bool IsNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

const char* EncodedBracket(char bracket) {
    switch (bracket) {
    case '(':
        return "%28";
    case ')':
        return "%29";
    case '{':
        return "%7B";
    default:
        return "%7D";
    }
}

std::string Sequence(uint32_t nSequence) {
    char text[16];
    std::snprintf(text, sizeof text, ".%08X", nSequence);
    return text;
}

} // namespace

bool IsRelayPeerName(std::string_view name) {
    return !name.empty() && name.size() <= RELAY_PEER_NAME_MAX &&
           std::all_of(name.begin(), name.end(), IsNameChar);
}

bool RelayPeerName(std::string_view name, std::string& upper) {
    upper.assign(name);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    if (IsRelayPeerName(upper))
        return true;
    upper.clear();
    return false;
}

char RelayBracket(bool fFromServer, bool fImage) {
    if (fFromServer)
        return fImage ? '{' : '(';
    return fImage ? '}' : ')';
}

int RelayKind(char bracket) {
    if (bracket == '(' || bracket == ')')
        return 1;
    if (bracket == '{' || bracket == '}')
        return 0;
    return -1;
}

bool RelayFromServer(char bracket) {
    return bracket == '(' || bracket == '{';
}

std::string RelayFileName(std::string_view sender, char bracket, std::string_view receiver,
                          uint32_t nSequence) {
    std::string name(sender);
    name += bracket;
    name += receiver;
    return name + Sequence(nSequence);
}

std::string RelayFileNameEncoded(std::string_view sender, char bracket, std::string_view receiver,
                                 uint32_t nSequence) {
    std::string name(sender);
    name += EncodedBracket(bracket);
    name += receiver;
    return name + Sequence(nSequence);
}

bool ParseRelayName(std::string_view name, RelayFileInfo& info) {
    size_t nBracket = name.find_first_of("(){}");
    if (nBracket == std::string_view::npos || name.size() < nBracket + 1 + 9)
        return false;
    std::string_view sender = name.substr(0, nBracket);
    std::string_view rest = name.substr(nBracket + 1);
    std::string_view receiver = rest.substr(0, rest.size() - 9);
    std::string_view sequence = rest.substr(rest.size() - 9);
    if (!IsRelayPeerName(sender) || !IsRelayPeerName(receiver) || sequence[0] != '.')
        return false;
    uint32_t nSequence = 0;
    for (char c : sequence.substr(1)) {
        int v = HexValue(c);
        if (v < 0)
            return false;
        nSequence = nSequence << 4 | static_cast<uint32_t>(v);
    }
    info.cSender.assign(sender);
    info.cBracket = name[nBracket];
    info.cReceiver.assign(receiver);
    info.nSequence = nSequence;
    info.nKind = RelayKind(info.cBracket);
    return true;
}

std::string UrlDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        int hi = -1, lo = -1;
        if (text[i] == '%' && i + 2 < text.size()) {
            hi = HexValue(text[i + 1]);
            lo = HexValue(text[i + 2]);
        }
        if (hi >= 0 && lo >= 0) {
            out += static_cast<char>(hi << 4 | lo);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string HrefFileName(std::string_view href) {
    size_t nSlash = href.rfind('/');
    return UrlDecode(nSlash == std::string_view::npos ? href : href.substr(nSlash + 1));
}

bool SerialBefore(uint32_t a, uint32_t b) {
    uint32_t ahead = b - a;
    return ahead != 0 && ahead < 0x80000000u;
}

uint32_t SerialBase(const std::vector<uint32_t>& sequences) {
    if (sequences.empty())
        return 0;
    std::vector<uint32_t> sorted(sequences);
    std::sort(sorted.begin(), sorted.end());
    // The gap that closes the circle, from the largest back to the smallest.
    uint32_t nWidest = sorted.front() - sorted.back();
    uint32_t base = sorted.front();
    for (size_t i = 1; i < sorted.size(); ++i) {
        uint32_t gap = sorted[i] - sorted[i - 1];
        if (gap > nWidest) {
            nWidest = gap;
            base = sorted[i];
        }
    }
    return base;
}

void SortFetchOrder(std::vector<FoundFile>& files) {
    uint32_t base[2] = {0, 0};
    for (int kind = 0; kind < 2; ++kind) {
        std::vector<uint32_t> sequences;
        for (const FoundFile& f : files)
            if (f.nKind == kind)
                sequences.push_back(f.nSequence);
        base[kind] = SerialBase(sequences);
    }
    std::stable_sort(files.begin(), files.end(), [&](const FoundFile& a, const FoundFile& b) {
        if (a.nKind != b.nKind)
            return a.nKind > b.nKind;
        return a.nSequence - base[a.nKind & 1] < b.nSequence - base[b.nKind & 1];
    });
}

} // namespace brindle
