#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects the Qt messages of the process between start() and stop(), in order, so a test can
// compare the exact texts (Qt's quoting and spacing included) and their source context.
struct captured_message
{
    QtMsgType type;
    QString text;
    QByteArray file;
    int line;
    QByteArray function;
};

class captured_messages
{
public:
    static void start()
    {
        all().clear();
        previous() = qInstallMessageHandler(&captured_messages::handle);
    }
    static void stop() { qInstallMessageHandler(previous()); }

    static const QList<captured_message>& messages() { return all(); }

    // The texts of the messages of one level, in order.
    static QStringList texts(QtMsgType type)
    {
        QStringList result;
        for (const captured_message& m : all())
            if (m.type == type)
                result << m.text;
        return result;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        all().append(
            {type, text, QByteArray(context.file), context.line, QByteArray(context.function)});
    }
    static QList<captured_message>& all()
    {
        static QList<captured_message> list;
        return list;
    }
    static QtMessageHandler& previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
};
