#pragma once
// Databases for the results tests: a fresh SQLite file, or a fresh database
// on the throwaway PostgreSQL server that scripts/test.sh starts and names in
// QUILLMARK_TEST_PG_URL (the tests on it are skipped without one).
#include "results/results_location.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>

struct TestDatabase {
    ResultsLocation where;
    QString url;  // what a program is given on its command line
};

class TestDatabases {
public:
    TestDatabases();
    ~TestDatabases();
    // An empty database of the kind, or nothing (test to be skipped).
    std::optional<TestDatabase> make(ResultsLocation::Kind kind);
    QString dir() const { return tmp_.path(); }

private:
    QTemporaryDir tmp_;
    QStringList created_;
};

// Runs one statement on a database over a connection of its own.
bool execOn(const ResultsLocation& where, const QString& sql);

// The throwaway server's URL.
QString testServerUrl();

// A throwaway server of a test's own, for a test that stops and starts it
// while the others use theirs. Made with the script QUILLMARK_TEST_PG_CTL
// names; url() is empty when there is none or it would not start.
class PrivateServer {
public:
    PrivateServer();
    ~PrivateServer();
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;
    QString url() const;
    bool stop();
    bool start();

private:
    bool control(const char* action);
    QTemporaryDir dir_;
    int port_ = 0;
    bool running_ = false;
};
