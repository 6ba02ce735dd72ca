#include "PCommonServer.h"

#include "PFrontEnd.h"
#include "PSession.h"
#include "UniqueFd.h"

#include <QTimer>

#include <new>

PCommonServer::PCommonServer(ConnectionType type, QObject *parent)
    : QTcpServer(parent), type(type)
{
    // Qt stops accepting for good when an accept fails for want of descriptors; serving resumes
    // by itself once some have come back.
    connect(this, &QTcpServer::acceptError, this, [this]() {
        QTimer::singleShot(kAcceptRetryMs, this, [this]() {
            if (isListening())
                resumeAccepting();
        });
    });
}

PCommonServer::~PCommonServer()
{
    PSession::endAll(findChildren<PSession *>(QString(), Qt::FindDirectChildrenOnly), false);
}

void PCommonServer::incomingConnection(qintptr descriptor)
{
    // Closed on every way out below but the one that hands it to a running session.
    platform::UniqueFd link{int(descriptor)};
    // Past the cap, or without the reserve, the terminal is refused at once.
    if (!PSession::mayAdmit())
        return;
    QObject *row = nullptr;
    if (vorelServer && vorelServer->hasRows()) {
        row = vorelServer->addWidget();
        if (!row)
            return;
    }
    PSession *session = nullptr;
    try {
        session = new PSession(descriptor, row, this);
        if (session->isReady()) {
            QString text;
            connectionName(descriptor, text);
            session->type = type;
            session->name = text;
            // Queued to the main thread: the ending thread never waits for it, so a main thread
            // that waits for the sessions at program end cannot dead-lock with them.
            connect(session, &QThread::finished, session, &PSession::removeWidget);
            connect(session, &QThread::finished, session, &QObject::deleteLater);
            session->start(QThread::InheritPriority);
            // A thread that could not be created is neither running nor finished.
            if (session->isRunning() || session->isFinished()) {
                link.release();
                return;
            }
        }
    } catch (const std::bad_alloc &) {
    }
    delete session;
    if (row && vorelServer)
        vorelServer->removeWidget(row);
}
