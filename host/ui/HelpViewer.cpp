#include "HelpViewer.h"

#include <QDialog>
#include <QFile>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

void ShowHelpPage(const QString& folder, unsigned topic)
{
    static QPointer<QDialog> viewer;
    static QTextBrowser* browser = nullptr;
    if (!viewer) {
        viewer = new QDialog(nullptr);
        viewer->setAttribute(Qt::WA_DeleteOnClose);
        viewer->setWindowTitle(QStringLiteral("Velmaro help"));
        viewer->resize(640, 520);
        auto* layout = new QVBoxLayout(viewer);
        browser = new QTextBrowser(viewer);
        browser->setOpenLinks(true);
        layout->addWidget(browser);
    }
    const QString page = QStringLiteral("%1/%2.html").arg(folder).arg(topic);
    if (QFile::exists(page)) {
        browser->setSearchPaths({folder});
        browser->setSource(QUrl::fromLocalFile(page));
    } else {
        browser->setHtml(
            QStringLiteral("<h2>No help page</h2><p>There is no help page for topic %1 in %2.</p>")
                .arg(topic)
                .arg(folder.toHtmlEscaped()));
    }
    viewer->show();
    viewer->raise();
}
