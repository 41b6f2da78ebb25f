#include "common/list_text.h"

#include "common/ascii.h"
#include "common/text_utils.h"

#include <algorithm>

namespace brindle {

namespace {

bool LessNoCase(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(FoldAscii(x)) < static_cast<unsigned char>(FoldAscii(y));
    });
}

std::string Escape(std::string_view item) {
    std::string escaped;
    for (char c : item) {
        escaped.push_back(c);
        if (c == '|')
            escaped.push_back('|');
    }
    return escaped;
}

} // namespace

std::vector<std::string> ListSplit(std::string_view text) {
    std::vector<std::string> items;
    std::string item;
    auto finish = [&] {
        if (!item.empty() && ListFind(items, item) < 0)
            items.push_back(item);
        item.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '|') {
            item.push_back(text[i]);
        } else if (i + 1 < text.size() && text[i + 1] == '|') {
            item.push_back('|');
            ++i;
        } else {
            finish();
        }
    }
    finish();
    return items;
}

std::vector<std::string> ListSplitPlain(std::string_view text) {
    std::vector<std::string> items;
    while (!text.empty()) {
        size_t end = text.find('|');
        if (end != 0)
            items.emplace_back(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return items;
}

std::string ListJoin(const std::vector<std::string>& items, size_t maxBytes) {
    std::string text;
    for (const std::string& item : items) {
        if (item.empty())
            continue;
        std::string piece = Escape(item);
        size_t separator = text.empty() ? 0 : 1;
        if (text.size() + separator + piece.size() > maxBytes)
            break;
        text.append(separator, '|').append(piece);
    }
    return text;
}

int ListFind(const std::vector<std::string>& items, std::string_view item) {
    for (size_t i = 0; i < items.size(); ++i) {
        if (EqualNoCase(items[i], item))
            return static_cast<int>(i);
    }
    return -1;
}

void ListAddTop(std::vector<std::string>& items, std::string_view item) {
    ListRemove(items, item);
    items.insert(items.begin(), std::string(item));
}

void ListAddSorted(std::vector<std::string>& items, std::string_view item) {
    if (ListFind(items, item) >= 0)
        return;
    auto at =
        std::upper_bound(items.begin(), items.end(), item,
                         [](std::string_view a, const std::string& b) { return LessNoCase(a, b); });
    items.insert(at, std::string(item));
}

bool ListRemove(std::vector<std::string>& items, std::string_view item) {
    int at = ListFind(items, item);
    if (at < 0)
        return false;
    items.erase(items.begin() + at);
    return true;
}

} // namespace brindle
