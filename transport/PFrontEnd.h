#pragma once

#include <functional>

class PBtServer;
class PIrdaServer;
class PLink;
class PNetServer;
class PSerialServer;
class QObject;
struct PSettings;

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

    // Makes the five links as children of `owner` (the front-end's own object), all stopped.
    void createLinks(QObject *owner);
    // Tries each link whose switch in `current` is 1, in the order network, Bluetooth, IrDA
    // normal, IrDA IrCOMM, serial, each whatever became of the others; the network listener takes
    // its port from `current` first. `failed` hears of a link that did not start before the next
    // is tried. `running` becomes true when one started (otherwise it keeps its value).
    void startLinks(const PSettings &current, const std::function<void(const PLink *)> &failed);
    // Stops every link whose own flag says it runs, in the same order; running sessions go on,
    // except those of the serial link, which its stop ends.
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
