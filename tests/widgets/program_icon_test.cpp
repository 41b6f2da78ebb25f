#include "widgets/program_icon.h"

#include <QImage>

#include <gtest/gtest.h>

namespace brindle {
namespace {

// The embedded PNGs are found, in both sizes, and the two programs do not
// share one picture by mistake.
TEST(ProgramIcon, BothProgramsHaveTheirOwnIconInBothSizes) {
    const QIcon host = HostIcon();
    const QIcon view = ViewIcon();
    for (const QIcon& icon : {host, view}) {
        EXPECT_EQ(icon.availableSizes(), (QList<QSize>{QSize(48, 48), QSize(256, 256)}));
        for (int nSize : {48, 256}) {
            QImage image = icon.pixmap(nSize, nSize).toImage();
            ASSERT_EQ(image.size(), QSize(nSize, nSize));
            // Not a blank square: the centre is drawn, the corner is clear.
            EXPECT_GT(qAlpha(image.pixel(nSize / 2, nSize / 2)), 200);
            EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
        }
    }
    EXPECT_NE(host.pixmap(48, 48).toImage(), view.pixmap(48, 48).toImage());
}

} // namespace
} // namespace brindle
