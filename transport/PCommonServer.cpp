#include "PCommonServer.h"

#include "NativeSocket.h"
#include "PFrontEnd.h"
#include "PSession.h"

#include <new>

PCommonServer::PCommonServer(ConnectionType type, QObject *parent)
    : QTcpServer(parent), type(type)
{
}

PCommonServer::~PCommonServer()
{
    PSession::endAll(findChildren<PSession *>(QString(), Qt::FindDirectChildrenOnly), false);
}

void PCommonServer::incomingConnection(qintptr descriptor)
{
    QObject *row = nullptr;
    if (vorelServer && vorelServer->hasRows()) {
        row = vorelServer->addWidget();
        if (!row) {
            platform::closeSocket(descriptor);
            return;
        }
    }
    PSession *session = new (std::nothrow) PSession(descriptor, row, this);
    if (!session || !session->isReady()) {
        delete session;
        refuse(descriptor, row);
        return;
    }
    QString text;
    connectionName(descriptor, text);
    session->type = type;
    session->name = text;
    // Queued to the main thread: the ending thread never waits for it, so a main thread that
    // waits for the sessions at program end cannot dead-lock with them.
    connect(session, &QThread::finished, session, &PSession::removeWidget);
    connect(session, &QThread::finished, session, &QObject::deleteLater);
    session->start(QThread::InheritPriority);
    // A thread that could not be created is neither running nor finished.
    if (!session->isRunning() && !session->isFinished()) {
        delete session;
        refuse(descriptor, row);
    }
}

void PCommonServer::refuse(qintptr descriptor, QObject *row)
{
    platform::closeSocket(descriptor);
    if (row && vorelServer)
        vorelServer->removeWidget(row);
}
