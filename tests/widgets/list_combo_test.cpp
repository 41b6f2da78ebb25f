#include "widgets/list_combo.h"

#include "common/list_text.h"

#include <QComboBox>

#include <gtest/gtest.h>

namespace brindle {
namespace {

std::vector<std::string> Items(const QComboBox& combo) {
    std::vector<std::string> items;
    for (int i = 0; i < combo.count(); ++i)
        items.push_back(combo.itemText(i).toStdString());
    return items;
}

enum class Step { Load, Add, Remove };

struct ListCase {
    const char* name;
    bool fSorted;
    std::string start;
    Step step;
    std::string item;
    std::vector<std::string> box;
    std::string text;
};

TEST(ListCombo, KeepsBoxAndTextInStep) {
    const ListCase cases[] = {
        {"load skips repeats and empties",
         false,
         "|a|b|A|c|",
         Step::Load,
         "",
         {"a", "b", "c"},
         "a|b|c"},
        {"load keeps escaped bars", false, "x||y|z", Step::Load, "", {"x|y", "z"}, "x||y|z"},
        {"load sorts a sorted box", true, "c|a|B", Step::Load, "", {"a", "B", "c"}, "c|a|B"},
        {"add moves to the top", false, "a|b|c", Step::Add, "C", {"C", "a", "b"}, "C|a|b"},
        {"add inserts at the top", false, "a|b", Step::Add, "d", {"d", "a", "b"}, "d|a|b"},
        {"sorted add at its place", true, "a|c", Step::Add, "b", {"a", "b", "c"}, "a|b|c"},
        {"sorted add of a present item", true, "a|c", Step::Add, "A", {"a", "c"}, "a|c"},
        {"remove without case", false, "a|B|c", Step::Remove, "b", {"a", "c"}, "a|c"},
        {"remove of a missing item", false, "a|c", Step::Remove, "q", {"a", "c"}, "a|c"},
        {"add with a bar", false, "a", Step::Add, "p|q", {"p|q", "a"}, "p||q|a"},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.name);
        QComboBox combo;
        if (c.fSorted)
            combo.setInsertPolicy(QComboBox::InsertAlphabetically);
        std::string text = c.start;
        ListToCombo(combo, text);
        if (c.step == Step::Add)
            UpdateList(combo, text, c.item, true);
        else if (c.step == Step::Remove)
            UpdateList(combo, text, c.item, false);
        EXPECT_EQ(Items(combo), c.box);
        EXPECT_EQ(text, c.text);
        if (c.step == Step::Load) {
            EXPECT_EQ(combo.currentIndex(), 0);
        } else if (c.step == Step::Add) {
            EXPECT_EQ(combo.currentText().toStdString(), c.box[size_t(ListFind(c.box, c.item))]);
        }
    }
}

// The stored text holds at most 4095 bytes: items go from the end of the
// box, the box loses them too, and the new item stays.
TEST(ListCombo, DropsItemsFromTheEndToFitTheCap) {
    QComboBox combo;
    std::string text;
    for (char c : std::string("edcba"))
        UpdateList(combo, text, std::string(1000, c), true);
    ASSERT_EQ(combo.count(), 4);
    EXPECT_EQ(combo.itemText(0).toStdString(), std::string(1000, 'a'));
    EXPECT_EQ(combo.itemText(3).toStdString(), std::string(1000, 'd'));
    EXPECT_EQ(text.size(), 4003u);
    EXPECT_LE(text.size(), LIST_TEXT_MAX);

    // A loaded text is not cut: a long list from the settings stays whole.
    std::string loaded = text + "|" + std::string(1000, 'z');
    ListToCombo(combo, loaded);
    EXPECT_EQ(combo.count(), 5);
    EXPECT_EQ(loaded.size(), 5004u);
}

// What the user typed into an editable box survives a removal.
TEST(ListCombo, RemovalKeepsTheEditText) {
    QComboBox combo;
    combo.setEditable(true);
    std::string text = "one|two";
    ListToCombo(combo, text);
    combo.setEditText(QStringLiteral("typed"));
    UpdateList(combo, text, "two", false);
    EXPECT_EQ(combo.currentText(), QStringLiteral("typed"));
    EXPECT_EQ(text, "one");
}

} // namespace
} // namespace brindle
