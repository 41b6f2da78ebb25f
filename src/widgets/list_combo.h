// The "|" list texts of the settings (recent servers, storage URIs) shown as
// the items of a combo box. A box whose insert policy is
// QComboBox::InsertAlphabetically is a sorted box: its items stay in order
// without regard to ASCII case; any other box is a most-recently-used list.
#pragma once

#include <string>
#include <string_view>

class QComboBox;

namespace brindle {

// Empties the box and fills it with the items of `listText` (a sorted box
// in order), then selects the first. Empty items and an item already in the
// box are skipped; when any was, `listText` is rewritten without them.
void ListToCombo(QComboBox& combo, std::string& listText);

// Adds `item` (fAdd) or removes it, then rebuilds `listText` from the
// box's items in order. An unsorted box moves or inserts the item at the
// top, a sorted box adds it at its place when missing; an added item is
// selected. When the text would exceed LIST_TEXT_MAX bytes, items are
// dropped from the end of the box until it fits. An empty item is ignored.
void UpdateList(QComboBox& combo, std::string& listText, std::string_view item, bool fAdd);

} // namespace brindle
