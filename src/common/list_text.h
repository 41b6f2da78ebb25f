// The "|" list format of the settings files: items joined with "|", a "|"
// inside an item written "||". Lists of recent servers, storage URIs and
// camera sections use it. The windows keep the items in combo boxes; these
// functions do the text side over plain vectors.
//
// Items are matched without regard to ASCII case, as the combo boxes match
// them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// Longest list text that is stored; items are dropped from the end to fit.
inline constexpr size_t LIST_TEXT_MAX = 4095;

// The items in order. Empty items (a trailing "|" included) are skipped, and
// so is an item equal to an earlier one.
std::vector<std::string> ListSplit(std::string_view text);

// The items of a list written without the escape, as the camera section
// lists are: split at every "|", empty items skipped, repeated items kept.
std::vector<std::string> ListSplitPlain(std::string_view text);

// The list text of `items`, escaping "|", dropping items from the end until
// the text holds at most `maxBytes` bytes.
std::string ListJoin(const std::vector<std::string>& items, size_t maxBytes = LIST_TEXT_MAX);

// Index of the item equal to `item`, or -1.
int ListFind(const std::vector<std::string>& items, std::string_view item);

// Moves `item` to the top, inserting it there when it is not in the list
// (a most-recently-used list).
void ListAddTop(std::vector<std::string>& items, std::string_view item);

// Inserts `item` at its place in a list kept in order without regard to
// ASCII case; nothing happens when it is already there.
void ListAddSorted(std::vector<std::string>& items, std::string_view item);

// Removes `item`. Returns true when it was there.
bool ListRemove(std::vector<std::string>& items, std::string_view item);

} // namespace brindle
