#pragma once

#include "PFrontEnd.h"

#include <QObject>
#include <QString>

#include <functional>

// The service's controller: owns the links, starts the enabled ones and stops the running ones.
// It shows nothing, so every terminal gets a session without a row.
class VorelServer : public QObject, public PFrontEnd
{
    Q_OBJECT
public:
    explicit VorelServer(QObject *parent = nullptr);
    ~VorelServer() override;

    bool hasRows() const override { return false; }
    QObject *addWidget() override { return nullptr; }
    void removeWidget(QObject *) override {}

    // Hears one line for each link that does not start; the service passes it to the process
    // manager's journal. Nothing is said while it is empty.
    std::function<void(const QString &)> report;

public slots:
    // Each enabled link is tried on its own; one that does not start is reported and skipped.
    void startButton();
    void stopButton();

private:
    // The desktop shows the same texts, translated.
    QString startFailure(const PLink *link, const PSettings &current) const;
};
