// The help viewer follows links to the help's own pages and to nothing else:
// not a file elsewhere, not "../", not a link planted in the help folder, not
// the web.
#include "HelpViewer.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

QTextBrowser* OpenBrowser()
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->windowTitle() == QStringLiteral("Velmaro help") && window->isVisible())
            return window->findChild<QTextBrowser*>();
    return nullptr;
}

class HelpViewer : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(help);
        std::ofstream(help / "1.html") << "<a href='2.html'>next</a>";
        std::ofstream(help / "2.html") << "<p>second page</p>";
        std::ofstream(outside) << "<p>not help</p>";
        fs::create_symlink(outside, help / "planted.html");
    }
    void TearDown() override
    {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->windowTitle() == QStringLiteral("Velmaro help"))
                window->close();
        fs::remove_all(root);
    }

    const fs::path root = fs::temp_directory_path() / ("velmaro-help-" + std::to_string(::getpid()));
    const fs::path help = root / "help";
    const fs::path outside = root / "outside.html";
};

TEST_F(HelpViewer, FollowsLinksToItsOwnPagesOnly)
{
    ShowHelpPage(QString::fromStdString(help.string()), 1);
    QTextBrowser* browser = OpenBrowser();
    ASSERT_NE(browser, nullptr);
    const QUrl first = browser->source();
    EXPECT_TRUE(first.toLocalFile().endsWith(QStringLiteral("/1.html"))) << first.toString().toStdString();

    for (const QUrl& link :
         {QUrl::fromLocalFile(QString::fromStdString(outside.string())),
          QUrl(QStringLiteral("../outside.html")), QUrl(QStringLiteral("planted.html")),
          QUrl(QStringLiteral("https://example.org/")), QUrl(QStringLiteral("file:///etc/hostname"))}) {
        Q_EMIT browser->anchorClicked(link);
        EXPECT_EQ(browser->source(), first) << link.toString().toStdString();
        const QLabel* note = browser->window()->findChild<QLabel*>();
        ASSERT_NE(note, nullptr);
        EXPECT_TRUE(note->text().startsWith(QStringLiteral("Not opened: "))) << note->text().toStdString();
    }

    Q_EMIT browser->anchorClicked(QUrl(QStringLiteral("2.html")));
    EXPECT_TRUE(browser->source().toLocalFile().endsWith(QStringLiteral("/help/2.html")))
        << browser->source().toString().toStdString();
}

} // namespace
