// The module's pictures, its scope menu, the bitmap buttons drawn from its
// pictures, and the templates of the profile tuning tests.
#include "ModuleResources.h"
#include "BitmapButton.h"
#include "Dialog.h"
#include "MenuResource.h"
#include "SetupDialogTest.h"

#include <QAbstractButton>
#include <QDirIterator>
#include <QIcon>
#include <QImage>
#include <QPushButton>
#include <QSvgRenderer>
#include <QTabBar>

#include <set>
#include <vector>

namespace {

// first, first + 1, ..., last
std::vector<int> Span(int first, int last)
{
    std::vector<int> ids;
    for (int id = first; id <= last; ++id)
        ids.push_back(id);
    return ids;
}

std::vector<int> Joined(std::initializer_list<std::vector<int>> parts)
{
    std::vector<int> ids;
    for (const auto& part : parts)
        ids.insert(ids.end(), part.begin(), part.end());
    return ids;
}

struct TuningTemplate {
    int id;
    const char* title;
    std::vector<int> controls; // both pages, the filters button and both plots
};

// The controls each dialog addresses by id: the pages it shows and hides,
// plus "Filters", the oscilloscope and the pause and continue buttons.
const std::vector<TuningTemplate>& ProfileTuningTemplates()
{
    static const std::vector<TuningTemplate> templates = {
        {102, "Speed Controller Tuning Test",
         Joined({{10014, 10015, 1376, 1377, 1301, 1305, 1322, 3282, 3284, 3283, 3278, 3281, 3279, 1312},
                 Span(1313, 1318),
                 Span(1326, 1331),
                 {1319, 1320, 1321, 1323, 1332, 3285, 3287, 3286},
                 Span(1333, 1343),
                 {1347, 1348, 1349, 1344, 1345, 1346, 1367, 1369, 1368},
                 Span(1350, 1360),
                 {1378, 1382, 1379, 1380, 1381, 1383, 1384, 1387, 1385, 1386, 1388, 1389, 1390},
                 Span(1361, 1366),
                 {3331, 3332, 1374, 10001, 10000, 1375, 10004, 10003, 10002, 10016, 10017, 1372, 3269, 3270,
                  3288, 3271},
                 {3510, 1362, 10016, 10017}})},
        {103, "Position Controller Tuning Test",
         Joined({{10014, 10015, 1376, 1377, 1301, 1312, 1305, 1322, 3282, 3284, 3283, 3278, 3281, 3279},
                 Span(1313, 1318),
                 Span(1326, 1331),
                 {1500, 1501, 1502, 1332, 3285, 3287, 3286, 3408, 1101, 1043, 1044},
                 Span(1333, 1343),
                 Span(1507, 1511),
                 Span(1344, 1349),
                 {1367, 1369, 1368},
                 Span(1350, 1360),
                 Span(1378, 1390),
                 {1512, 1513, 1361, 1362},
                 Span(1517, 1520),
                 {3331, 3332, 1374, 10001, 10000, 1375, 10004, 10003, 10002, 10016, 10017, 1372, 3269, 3270,
                  3288, 3305},
                 {3510, 1362, 10016, 10017}})},
    };
    return templates;
}

class ModuleResourcesTest : public SetupDialogTest {
protected:
    void SetUp() override
    {
        SetupDialogTest::SetUp();
        InitModuleResources();
    }
};

TEST_F(ModuleResourcesTest, EveryPictureRendersAndTheTuningPicturesAreThere)
{
    QStringList names;
    for (QDirIterator it(QStringLiteral(":/pictures")); it.hasNext();) {
        const QString path = it.next();
        QSvgRenderer picture(path);
        EXPECT_TRUE(picture.isValid()) << path.toStdString();
        EXPECT_FALSE(picture.defaultSize().isEmpty()) << path.toStdString();
        names << it.fileName();
    }
    for (const char* name : {"BITMAP_3015", "BITMAP_308", "BITMAP_309", "BITMAP_310", "BITMAP_311",
                             "BITMAP_314", "BITMAP_3066", "BITMAP_3067", "PAUSE_", "CONTINUE_"})
        EXPECT_TRUE(names.contains(QString::fromUtf8(name) + QStringLiteral(".svg"))) << name;
}

TEST_F(ModuleResourcesTest, TheScopeMenuOffersItsCommandsInOrder)
{
    MenuResource menu;
    QString error;
    ASSERT_TRUE(LoadMenuResource(101, menu, error)) << error.toStdString();
    ASSERT_FALSE(menu.popups.empty());
    std::vector<int> commands;
    for (const MenuItem& item : menu.popups[0].items) {
        commands.push_back(item.command);
        EXPECT_EQ(item.command == 0, item.text.isEmpty());
    }
    EXPECT_EQ(commands, (std::vector<int>{10062, 10063, 10064, 10065, 10066, 0, 10067, 10068, 10069}));
}

TEST_F(ModuleResourcesTest, BitmapButtonsShowThePictureOfTheirCaptionGreyedWhenDisabled)
{
    CMC_Dialog dialog(9201, nullptr);
    CBitmapButton pause;
    CBitmapButton resume;
    ASSERT_TRUE(pause.AutoLoad(10016, &dialog));
    ASSERT_TRUE(resume.AutoLoad(10017, &dialog));
    EXPECT_EQ(pause.PictureName(), "PAUSE_");
    EXPECT_EQ(pause.Button()->toolTip(), "Pause");
    EXPECT_EQ(resume.Button()->toolTip(), "Continue the plot") << "the template's own tip stays";
    EXPECT_TRUE(pause.Button()->text().isEmpty());

    const QIcon icon = pause.Button()->icon();
    const QImage normal = icon.pixmap(QSize(24, 24), QIcon::Normal).toImage();
    const QImage disabled = icon.pixmap(QSize(24, 24), QIcon::Disabled).toImage();
    ASSERT_FALSE(normal.isNull());
    const QPoint bar(7, 12); // inside the left bar
    EXPECT_GT(qAlpha(normal.pixel(bar)), 200);
    EXPECT_LT(qAlpha(disabled.pixel(bar)), qAlpha(normal.pixel(bar)));
    EXPECT_EQ(qRed(disabled.pixel(bar)), qBlue(disabled.pixel(bar))) << "grey";

    CBitmapButton missing;
    EXPECT_FALSE(missing.AutoLoad(10018, &dialog));
    EXPECT_FALSE(missing.AutoLoad(4242, &dialog));
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_NE(errors[0].find("REWIND_"), std::string::npos);
}

// Enter in an edit presses nothing (a shown dialog makes its first
// auto-default button the default: Tune or Identify, say).
void ExpectNoDefaultButton(CMC_Dialog& dialog)
{
    dialog.show();
    for (const QPushButton* button : dialog.findChildren<QPushButton*>())
        EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString();
}

TEST_F(ModuleResourcesTest,
       ProfileTuningTemplatesHoldEveryControlOnceWithTabsPictureButtonsAndNoDefaultButton)
{
    for (const TuningTemplate& t : ProfileTuningTemplates()) {
        SCOPED_TRACE(t.id);
        CMC_Dialog dialog(t.id, nullptr);
        EXPECT_EQ(dialog.windowTitle(), t.title);
        for (int id : t.controls)
            EXPECT_TRUE(dialog.HasItem(id)) << "control " << id;
        EXPECT_NE(dialog.Item<QTabBar>(1300), nullptr);

        // A mistyped id that hits another control hides one of the two.
        std::multiset<int> ids;
        for (const QWidget* w : dialog.findChildren<QWidget*>())
            if (const QVariant id = w->property("id"); id.isValid())
                ids.insert(id.toInt());
        for (int id : ids)
            EXPECT_EQ(ids.count(id), 1u) << "control " << id;

        CBitmapButton pause;
        CBitmapButton resume;
        EXPECT_TRUE(pause.AutoLoad(10016, &dialog));
        EXPECT_TRUE(resume.AutoLoad(10017, &dialog));

        ExpectNoDefaultButton(dialog);
    }
    EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(ModuleResourcesTest, EnterInTheCurrentTuningTestPressesNoButton)
{
    CMC_Dialog dialog(101, nullptr);
    ExpectNoDefaultButton(dialog);
}

} // namespace
