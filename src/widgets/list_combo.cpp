#include "widgets/list_combo.h"

#include "common/list_text.h"

#include <QComboBox>

#include <algorithm>
#include <vector>

namespace brindle {

namespace {

bool IsSorted(const QComboBox& combo) {
    return combo.insertPolicy() == QComboBox::InsertAlphabetically;
}

std::vector<std::string> ComboItems(const QComboBox& combo) {
    std::vector<std::string> items;
    items.reserve(size_t(combo.count()));
    for (int i = 0; i < combo.count(); ++i)
        items.push_back(combo.itemText(i).toStdString());
    return items;
}

void FillCombo(QComboBox& combo, const std::vector<std::string>& items) {
    combo.clear();
    for (const std::string& item : items)
        combo.addItem(QString::fromStdString(item));
}

// How many items from the front fit into a list text of `maxBytes`.
size_t FittingCount(const std::vector<std::string>& items, size_t maxBytes) {
    size_t nBytes = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        size_t nPiece = items[i].size() + size_t(std::count(items[i].begin(), items[i].end(), '|'));
        size_t nNeeded = nBytes + (i == 0 ? 0 : 1) + nPiece;
        if (nNeeded > maxBytes)
            return i;
        nBytes = nNeeded;
    }
    return items.size();
}

} // namespace

void ListToCombo(QComboBox& combo, std::string& listText) {
    std::vector<std::string> items = ListSplit(listText);
    if (IsSorted(combo)) {
        std::vector<std::string> sorted;
        for (const std::string& item : items)
            ListAddSorted(sorted, item);
        FillCombo(combo, sorted);
    } else {
        FillCombo(combo, items);
    }
    // Only what was skipped leaves the text; nothing is cut to the cap here,
    // so a list written by a newer or older version is not shortened on read.
    std::string rebuilt = ListJoin(items, std::string::npos);
    if (rebuilt != listText)
        listText = std::move(rebuilt);
    if (combo.count() > 0)
        combo.setCurrentIndex(0);
}

void UpdateList(QComboBox& combo, std::string& listText, std::string_view item, bool fAdd) {
    std::vector<std::string> items = ComboItems(combo);
    if (!item.empty()) {
        if (!fAdd)
            ListRemove(items, item);
        else if (IsSorted(combo))
            ListAddSorted(items, item);
        else
            ListAddTop(items, item);
    }
    items.resize(FittingCount(items, LIST_TEXT_MAX));
    // Refilling empties an editable box's edit field; what the user typed
    // there stays unless the added item takes its place.
    QString edit = combo.currentText();
    FillCombo(combo, items);
    listText = ListJoin(items, LIST_TEXT_MAX);
    int nSelected = fAdd && !item.empty() ? ListFind(items, item) : -1;
    if (nSelected >= 0)
        combo.setCurrentIndex(nSelected);
    else if (combo.isEditable())
        combo.setEditText(edit);
}

} // namespace brindle
