#pragma once

class PBtServer;
class PIrdaServer;
class PNetServer;
class PSerialServer;
class QObject;

// What the engine needs of the program around it: the desktop window or the service's
// controller, reached through `vorelServer`. A session row is an opaque QObject with the slots
// setIndicator(int), setMessage(QString) and setType(QString); a front-end without rows makes
// a session for every terminal. Everything here runs on the main thread.
class PFrontEnd
{
public:
    PFrontEnd();
    virtual ~PFrontEnd();
    PFrontEnd(const PFrontEnd &) = delete;
    PFrontEnd &operator=(const PFrontEnd &) = delete;

    // False: this front-end shows no rows and addWidget is not asked.
    virtual bool hasRows() const = 0;
    // A new row for a terminal that connected; null when none could be made, and then the
    // terminal gets no session.
    virtual QObject *addWidget() = 0;
    virtual void removeWidget(QObject *row) = 0;

    // Stops every link whose own flag says it runs, in the fixed order; running sessions go on,
    // except those of the cradle, which its stop ends.
    void stopLinks();
    // Program end, while the application object exists: stops the links, ends every live
    // session, waits for it with events processed and deletes it. False when sessions still
    // ran after PSession::kEndWaitMs: the program must then leave without destroying them.
    bool teardown();

    PNetServer *netServer = nullptr;
    PBtServer *btServer = nullptr;
    PIrdaServer *irdaServer = nullptr;
    // The IrDA listener with `ircomm` set.
    PIrdaServer *ircommServer = nullptr;
    // The USB cradle poller; its sessions reach it here when they end.
    PSerialServer *serialServer = nullptr;
    bool running = false;
};

extern PFrontEnd *vorelServer;
