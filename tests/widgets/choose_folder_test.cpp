#include "widgets/choose_folder.h"

#include "support/scoped_env.h"

#include <QWidget>

#include <gtest/gtest.h>

namespace brindle {
namespace {

struct DialogCall {
    QWidget* owner = nullptr;
    QString title;
    QString start;
};

// The chooser opens at the expanded start, titled as the settings ask, and
// hands back what the user chose; a cancel changes nothing.
TEST(ChooseFolder, OpensAtTheExpandedStartAndReturnsTheChoice) {
    test::ScopedEnv env("BRINDLE_TEST_IMAGES", "/srv/images");
    QWidget owner;
    DialogCall call;
    std::optional<QString> answer = QStringLiteral("/srv/images/カメラ");
    auto dialog = [&](QWidget* o, const QString& title, const QString& start) {
        call = {o, title, start};
        return answer;
    };

    std::string chosen = "before";
    ASSERT_TRUE(ChooseFolder(&owner, "%BRINDLE_TEST_IMAGES%/day", chosen, dialog));
    EXPECT_EQ(call.owner, &owner);
    EXPECT_EQ(call.title, QStringLiteral("保存業フォルダを選択してください"));
    EXPECT_EQ(call.start, QStringLiteral("/srv/images/day"));
    EXPECT_EQ(chosen, "/srv/images/カメラ");

    answer = std::nullopt;
    EXPECT_FALSE(ChooseFolder(&owner, "/srv", chosen, dialog));
    EXPECT_EQ(chosen, "/srv/images/カメラ");
}

} // namespace
} // namespace brindle
