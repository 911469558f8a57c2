#pragma once

#include <QAbstractSocket>
#include <QtGlobal>

namespace VLK {

// Connects a socket's error signal to a slot of the receiver, by whichever
// name this Qt version gives it: Qt 5.15 renamed the overloaded error() to
// errorOccurred() and deprecated the old one.
template<typename Receiver>
void connectSocketErrors(QAbstractSocket *socket, Receiver *receiver,
                         void (Receiver::*slot)(QAbstractSocket::SocketError))
{
#if QT_VERSION >= QT_VERSION_CHECK(5, 15, 0)
    QObject::connect(socket, &QAbstractSocket::errorOccurred, receiver, slot);
#else
    QObject::connect(socket, QOverload<QAbstractSocket::SocketError>::of(&QAbstractSocket::error),
                     receiver, slot);
#endif
}

} // namespace VLK
