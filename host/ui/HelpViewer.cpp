#include "HelpViewer.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace {

struct Viewer {
    QPointer<QDialog> window;
    QTextBrowser* browser = nullptr;
    QLabel* note = nullptr;
    QString folder;
};

Viewer& TheViewer()
{
    static Viewer viewer;
    return viewer;
}

// A page of the help folder itself: an HTML file inside it, links resolved,
// so that neither "../" nor a link planted in the folder leads out.
bool IsOwnPage(const QString& folder, const QUrl& url)
{
    if (!url.isLocalFile())
        return false;
    const QString page = QFileInfo(url.toLocalFile()).canonicalFilePath();
    const QString root = QFileInfo(folder).canonicalFilePath();
    return !page.isEmpty() && !root.isEmpty() && page.startsWith(root + QLatin1Char('/')) &&
           page.endsWith(QLatin1String(".html"));
}

void FollowLink(const QUrl& link)
{
    Viewer& viewer = TheViewer();
    const QUrl target = viewer.browser->source().resolved(link);
    if (link.isRelative() && link.path().isEmpty() && link.hasFragment()) {
        viewer.browser->scrollToAnchor(link.fragment());
        return;
    }
    if (!IsOwnPage(viewer.folder, target)) {
        viewer.note->setText(QStringLiteral("Not opened: %1 is not a page of the help.")
                                 .arg(target.toDisplayString().toHtmlEscaped()));
        viewer.note->show();
        return;
    }
    viewer.note->hide();
    viewer.browser->setSource(target);
}

void CreateViewer()
{
    Viewer& viewer = TheViewer();
    viewer.window = new QDialog(nullptr);
    viewer.window->setAttribute(Qt::WA_DeleteOnClose);
    viewer.window->setWindowTitle(QStringLiteral("Velmaro help"));
    viewer.window->resize(640, 520);
    auto* layout = new QVBoxLayout(viewer.window);
    viewer.browser = new QTextBrowser(viewer.window);
    viewer.browser->setOpenLinks(false);
    QObject::connect(viewer.browser, &QTextBrowser::anchorClicked, viewer.browser, &FollowLink);
    layout->addWidget(viewer.browser);
    viewer.note = new QLabel(viewer.window);
    viewer.note->setWordWrap(true);
    viewer.note->hide();
    layout->addWidget(viewer.note);
}

} // namespace

void ShowHelpPage(const QString& folder, unsigned topic)
{
    Viewer& viewer = TheViewer();
    if (!viewer.window)
        CreateViewer();
    viewer.folder = folder;
    viewer.note->hide();
    const QString page = QStringLiteral("%1/%2.html").arg(folder).arg(topic);
    if (QFile::exists(page)) {
        viewer.browser->setSearchPaths({folder});
        viewer.browser->setSource(QUrl::fromLocalFile(QFileInfo(page).absoluteFilePath()));
    } else {
        viewer.browser->setHtml(
            QStringLiteral("<h2>No help page</h2><p>There is no help page for topic %1 in %2.</p>")
                .arg(topic)
                .arg(folder.toHtmlEscaped()));
    }
    viewer.window->show();
    viewer.window->raise();
}
