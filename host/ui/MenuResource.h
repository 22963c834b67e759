// Popup menus of the module's resources, found by id as ":/menus/<id>.json":
//
//   {"popups": [{"caption": "Scope",
//                "items": [{"command": 10062, "text": "Scope &settings..."},
//                          {"separator": true}, ...]}]}
//
// A dialog shows one popup with CMC_Dialog::TrackPopupMenu.
#pragma once

#include <QString>

#include <vector>

class QMenu;

struct MenuItem {
    int command = 0; // 0: a separator
    QString text;
};

struct MenuPopup {
    QString caption;
    std::vector<MenuItem> items;
};

struct MenuResource {
    std::vector<MenuPopup> popups;
};

QString MenuPath(int menuId);
// Reads menu menuId; false, with the reason in error, when it is missing or
// damaged (an item with neither a command above 0 and a text nor a separator).
bool LoadMenuResource(int menuId, MenuResource& menu, QString& error);
// Adds the popup's items to a menu; each action carries its command as data.
void FillMenu(QMenu& menu, const MenuPopup& popup);
