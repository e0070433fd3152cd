#include "modal_box.h"

#include <QApplication>
#include <QTimer>

void close_next_box(modal_box_reading& reading)
{
    QTimer::singleShot(0, [&reading] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        // The timer may fire before the box is up: look again on the next pass.
        if (box == nullptr) {
            close_next_box(reading);
            return;
        }
        reading = {box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
        box->done(QMessageBox::Ok);
    });
}
