#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// An Xvfb server of the test's own on a display number that it picks itself, and the few
// xdotool calls that read and close the message boxes shown on it.
class virtual_display
{
public:
    virtual_display() = default;
    ~virtual_display();
    virtual_display(const virtual_display&) = delete;
    virtual_display& operator=(const virtual_display&) = delete;

    // Starts the server and waits until it answers clients; false with a reason otherwise.
    bool start(QString& error);
    void stop();
    // ":N", the value of DISPLAY for clients.
    QString name() const { return m_name; }

    // The ids of the mapped windows that carry a title.
    QStringList titled_windows() const;
    QString window_title(const QString& id) const;
    // Presses Enter in whichever window has the keyboard focus.
    void press_return() const;

private:
    QByteArray xdotool(const QStringList& arguments) const;
    bool answers() const;

    QProcess m_server;
    QString m_name;
};
