#include "PlaceholderHost.h"

#include "Dialog.h"

#include <QLabel>
#include <QVBoxLayout>

QWidget* AddToPlaceholder(CMC_Dialog* dialog, int controlId, QWidget* content)
{
    QWidget* placeholder = dialog != nullptr ? dialog->GetDlgItem(controlId) : nullptr;
    if (placeholder == nullptr)
        return nullptr;
    if (auto* label = qobject_cast<QLabel*>(placeholder))
        label->clear();
    QLayout* layout = placeholder->layout();
    if (layout == nullptr) {
        layout = new QVBoxLayout(placeholder);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    content->setParent(placeholder);
    layout->addWidget(content);
    content->show();
    return placeholder;
}
