// A picture of the control panel as the offscreen platform draws it. With
// TAMO_SCREENSHOT set to a file name the picture is also saved there (the
// README's screenshot is made this way).
#include <QImage>
#include <QPixmap>
#include <QSet>

#include "guitest.h"

TEST_F(PanelTest, ControlPanelDrawsItsWholeCatalogue) {
    slot(0) = guitest::makeImage(8, 8);
    QMetaObject::invokeMethod(panel, "updateAccessability");
    panel->resize(panel->minimumSizeHint().expandedTo(QSize(900, 560)));
    guitest::waitUntil([] { return false; }, 100);

    const QImage picture = panel->grab().toImage();
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), panel->size() * picture.devicePixelRatio());
    // Text and frames give many distinct colours; a blank picture gives one.
    QSet<QRgb> colours;
    for (int y = 0; y < picture.height(); y += 3)
        for (int x = 0; x < picture.width(); x += 3) colours.insert(picture.pixel(x, y));
    EXPECT_GT(colours.size(), 10);

    const QString target = qEnvironmentVariable("TAMO_SCREENSHOT");
    if (!target.isEmpty()) EXPECT_TRUE(picture.save(target));
}
