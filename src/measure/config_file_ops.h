#pragma once
// The window's side of configuration files: "Save config file", "Load config
// file", the load at start-up and the write at close.
#include <QString>

class Bench;

class ConfigFileOps {
public:
    explicit ConfigFileOps(Bench& bench) : bench_(bench) {}

    void save();
    void load();
    void loadAtStartUp();
    void writeAtClose();

    // Writes the current settings, labels and description to `path`.
    // Returns an error text (empty on success).
    QString writeConfigRecord(const QString& path);
    // Reads and applies the record at `path`; false when nothing was loaded.
    bool loadConfigRecord(const QString& path);

private:
    Bench& bench_;
};
