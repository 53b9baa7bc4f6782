#pragma once

#include "ProxyService.h"
#include "SignalWatcher.h"
#include "StandinConfig.h"

#include <QObject>
#include <QString>

#include <memory>

namespace orvane {

// "run -c FILE": serve the file's inbounds until terminated; the hang-up signal rereads the file.
class RunCommand : public QObject {
    Q_OBJECT
public:
    explicit RunCommand(QString path);

    // Runs the event loop; the process's exit status.
    int exec();

private:
    void start();
    void onSignal(int signalNumber);
    void reload();
    void fail(const QString& message);

    QString m_path;
    std::shared_ptr<const StandinConfig> m_config;
    SignalWatcher m_signals;
    ProxyService m_service;
    bool m_started = false;
    bool m_running = false;
    int m_startFailure = 0;
};

} // namespace orvane
