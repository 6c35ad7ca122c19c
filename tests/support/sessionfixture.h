#pragma once
// A signed-in client session against a real seeded varelo-server, for window tests:
// its own settings folder, every message box recorded (and answered), the session values
// of a demo user set and the connection standing. Ende does not end the test process:
// it is recorded in endeCalled.

#include "platform/messagebox.h"
#include "tests/support/testserver.h"

#include <QTemporaryDir>

#include <memory>

namespace factory { class Factory; }

class SessionFixture
{
public:
    explicit SessionFixture(TestServer::Options options = {});
    ~SessionFixture(); // closes every open window, disconnects, stops the server

    // Starts the server and signs in without dialogs: tenant "1", branch "0", demo user
    // "ADM" (password "admin"); BeginServerWork connects. False when anything failed.
    bool start(const QString &firma = QStringLiteral("1"));

    TestServer &server() { return *m_server; }
    platform::MessageBoxRecorder &boxes() { return m_boxes; }
    QString settingsDir() const { return m_settings.path(); }
    // A second connection of its own, for reading back what the program stored.
    factory::Factory &probe();
    bool endeCalled = false;

private:
    std::unique_ptr<TestServer> m_server;
    QTemporaryDir m_settings;
    platform::MessageBoxRecorder m_boxes;
    std::unique_ptr<factory::Factory> m_probe;
};

// Closes modal windows left open by a failed test and reports stray top-level windows.
void closeStrayWindows();
