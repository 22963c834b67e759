// The module's pictures, its scope menu and the bitmap buttons drawn from
// its pictures.
#include "ModuleResources.h"
#include "BitmapButton.h"
#include "Dialog.h"
#include "MenuResource.h"
#include "SetupDialogTest.h"

#include <QAbstractButton>
#include <QDirIterator>
#include <QIcon>
#include <QImage>
#include <QSvgRenderer>

namespace {

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

} // namespace
