// A button whose face is a picture of the module's resources named by the
// button's caption: a button captioned "PAUSE_" shows ":/pictures/PAUSE_.svg",
// greyed while the button is disabled. The caption becomes its tooltip
// ("Pause") unless the template gives one.
//
//   CBitmapButton m_pause;              // a member of the dialog
//   m_pause.AutoLoad(10016, this);      // in OnInitDialog
#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QString>

class CMC_Dialog;

class CBitmapButton {
public:
    // Gives the dialog's button with this id its picture; false when the
    // dialog has no such button or there is no valid picture of its caption
    // (reported).
    bool AutoLoad(int id, CMC_Dialog* dialog);
    QAbstractButton* Button() const { return m_button.data(); }
    // The picture shown, empty before AutoLoad.
    const QString& PictureName() const { return m_picture; }

private:
    QPointer<QAbstractButton> m_button;
    QString m_picture;
};
