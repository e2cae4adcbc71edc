#pragma once
// Configuration files: "Save config file", "Load config file", the load at
// start-up and the write at close.
#include "bench/bench_context.h"
#include "measure/config_record.h"

#include <QString>

class FrameDisplay;
class SettingsEditor;

class ConfigFiles {
public:
    ConfigFiles(BenchContext& ctx, SettingsEditor& editor, FrameDisplay& display, QString configDirectory)
        : ctx_(ctx), editor_(editor), display_(display), directory_(std::move(configDirectory))
    {
    }

    void save();
    void load();
    // False on a first start (no saved file).
    bool loadAtStartUp();
    // Writes the default file; tells the user when it cannot, so closing never
    // loses the session's settings silently.
    void writeAtClose();

    QString defaultPath() const { return directory_ + "/FileName.cfg"; }

    // Writes the current settings, labels and description to `path`.
    // Returns an error text (empty on success).
    QString writeConfigRecord(const QString& path);
    // Reads and applies the record at `path`. Returns an error text naming
    // the cause (empty when the record was applied).
    QString loadConfigRecord(const QString& path);

private:
    BenchContext& ctx_;
    SettingsEditor& editor_;
    FrameDisplay& display_;
    QString directory_;
};
