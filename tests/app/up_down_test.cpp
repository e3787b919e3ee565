#include "app/up_down.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

namespace tarnel {
namespace {

TEST(UpDown, ArrowsStepByTheIncrementWithinTheRange) {
    QLineEdit edit;
    UpDown upDown(50, 20000, 50, 600);
    upDown.setAssociate(&edit);
    EXPECT_EQ(edit.text(), "600");
    const auto arrows = upDown.findChildren<QToolButton*>();
    ASSERT_EQ(arrows.size(), 2);
    QToolButton* up = arrows[0]->arrowType() == Qt::UpArrow ? arrows[0] : arrows[1];
    QToolButton* down = up == arrows[0] ? arrows[1] : arrows[0];
    QTest::mouseClick(up, Qt::LeftButton);
    EXPECT_EQ(upDown.position(), 650);
    EXPECT_EQ(edit.text(), "650");
    upDown.setPosition(50);
    QTest::mouseClick(down, Qt::LeftButton);
    EXPECT_EQ(upDown.position(), 50) << "the range holds at its lower end";
}

TEST(UpDown, APositionTypedIntoTheEditCountsAndIsClamped) {
    QLineEdit edit;
    UpDown upDown(1, 255, 1, 1);
    upDown.setAssociate(&edit);
    edit.setText("17");
    EXPECT_EQ(upDown.position(), 17);
    edit.setText("999");
    EXPECT_EQ(upDown.position(), 255);
    EXPECT_EQ(edit.text(), "255") << "the box shows the value used";
    edit.setText("");
    EXPECT_EQ(upDown.position(), 255) << "text that is not a number keeps the last position";
    EXPECT_EQ(edit.text(), "255");
}

TEST(UpDown, SetPositionClampsAndReportsTheChange) {
    QLineEdit edit;
    UpDown upDown(300, 9900, 10, 1000);
    upDown.setAssociate(&edit);
    QSignalSpy spy(&upDown, &UpDown::positionChanged);
    upDown.setPosition(10);
    EXPECT_EQ(upDown.position(), 300);
    EXPECT_EQ(edit.text(), "300");
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 300);
}

}  // namespace
}  // namespace tarnel
