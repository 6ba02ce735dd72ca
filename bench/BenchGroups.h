#pragma once

class BenchReport;
struct BenchOptions;
class QString;

// The four groups of figures; each starts the servers it measures and stops them again.
// `folder` is the run's scratch folder.
void runRoundTrips(const BenchOptions &options, const QString &folder, BenchReport &report);
void runTransfer(const BenchOptions &options, const QString &folder, BenchReport &report);
void runConversions(const BenchOptions &options, const QString &folder, BenchReport &report);
void runSessions(const BenchOptions &options, const QString &folder, BenchReport &report);

// "C:\..." for a local absolute path, as a terminal names it.
QString terminalPathOf(const QString &localPath);
