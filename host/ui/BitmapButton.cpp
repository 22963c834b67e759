#include "BitmapButton.h"

#include "Dialog.h"
#include "Errors.h"

#include <QAbstractButton>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace {

const QSize kFaceSize(24, 24);

// The face of a disabled button: grey and faint.
QPixmap Greyed(const QPixmap& face)
{
    QImage image = face.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grey = 96 + qGray(line[x]) / 2;
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) * 2 / 5);
        }
    }
    return QPixmap::fromImage(image);
}

// "PAUSE_" reads "Pause".
QString Caption(const QString& pictureName)
{
    QString caption = pictureName.toLower();
    while (caption.endsWith(QLatin1Char('_')))
        caption.chop(1);
    caption.replace(QLatin1Char('_'), QLatin1Char(' '));
    if (!caption.isEmpty())
        caption[0] = caption[0].toUpper();
    return caption;
}

} // namespace

bool CBitmapButton::AutoLoad(int id, CMC_Dialog* dialog)
{
    auto* button = dialog != nullptr ? dialog->Item<QAbstractButton>(id) : nullptr;
    if (button == nullptr) {
        ReportError("The dialog has no button " + std::to_string(id) + " for a picture.");
        return false;
    }
    const QString name = button->text();
    const QString path = PicturePath(name.toUtf8().constData());
    QSvgRenderer renderer;
    if (!QFile::exists(path) || !renderer.load(path)) {
        ReportError("There is no picture \"" + name.toStdString() + "\" for the button " +
                    std::to_string(id) + ".");
        return false;
    }
    QPixmap face(kFaceSize);
    face.fill(Qt::transparent);
    QPainter painter(&face);
    renderer.render(&painter);
    painter.end();
    QIcon icon;
    icon.addPixmap(face, QIcon::Normal);
    icon.addPixmap(Greyed(face), QIcon::Disabled);
    button->setIcon(icon);
    button->setIconSize(kFaceSize);
    button->setText(QString());
    button->setAccessibleName(Caption(name));
    if (button->toolTip().isEmpty())
        button->setToolTip(Caption(name));
    m_button = button;
    m_picture = name;
    return true;
}
