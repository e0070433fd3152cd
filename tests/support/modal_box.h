#pragma once

#include <QMessageBox>
#include <QString>

// What a real message box showed.
struct modal_box_reading
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

// Arms a timer that the next box's own modal loop fires: it records the box into reading and
// closes it with Ok. reading must outlive the box.
void close_next_box(modal_box_reading& reading);
