#include "measure/config_file_ops.h"

#include "app/bench.h"

void ConfigFileOps::save() {}
void ConfigFileOps::load() {}
void ConfigFileOps::loadAtStartUp() {}
void ConfigFileOps::writeAtClose() {}
QString ConfigFileOps::writeConfigRecord(const QString&) { return {}; }
bool ConfigFileOps::loadConfigRecord(const QString&) { return false; }
