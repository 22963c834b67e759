#include "MenuResource.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>

namespace {

// One item, or false when it is neither a command nor a separator.
bool ReadItem(const QJsonObject& object, MenuItem& item)
{
    if (object.value(QStringLiteral("separator")).toBool()) {
        item = MenuItem{};
        return true;
    }
    item.command = object.value(QStringLiteral("command")).toInt();
    item.text = object.value(QStringLiteral("text")).toString();
    return item.command > 0 && !item.text.isEmpty();
}

} // namespace

QString MenuPath(int menuId)
{
    return QStringLiteral(":/menus/%1.json").arg(menuId);
}

bool LoadMenuResource(int menuId, MenuResource& menu, QString& error)
{
    const QString name = QStringLiteral("The menu %1").arg(menuId);
    QFile file(MenuPath(menuId));
    if (!file.open(QIODevice::ReadOnly)) {
        error = name + QStringLiteral(" is missing.");
        return false;
    }
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parse);
    if (parse.error != QJsonParseError::NoError || !document.isObject()) {
        error = name + QStringLiteral(" cannot be read: ") + parse.errorString();
        return false;
    }
    MenuResource read;
    const QJsonArray popups = document.object().value(QStringLiteral("popups")).toArray();
    for (qsizetype p = 0; p < popups.size(); ++p) {
        const QJsonObject popup = popups.at(p).toObject();
        MenuPopup& added = read.popups.emplace_back();
        added.caption = popup.value(QStringLiteral("caption")).toString();
        const QJsonArray items = popup.value(QStringLiteral("items")).toArray();
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (!ReadItem(items.at(i).toObject(), added.items.emplace_back())) {
                error =
                    name +
                    QStringLiteral(": item %1 of popup %2 has no command and text.").arg(i + 1).arg(p + 1);
                return false;
            }
        }
    }
    menu = std::move(read);
    return true;
}

void FillMenu(QMenu& menu, const MenuPopup& popup)
{
    for (const MenuItem& item : popup.items) {
        if (item.command == 0)
            menu.addSeparator();
        else
            menu.addAction(item.text)->setData(item.command);
    }
}
