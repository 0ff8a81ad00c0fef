#pragma once
// The process's one SpoolerSettings record. LoadSettingsRecord fills it from the settings file; a
// spool run works on a snapshot taken per file, so a reload during a run takes effect at the
// next file.
#include "settings/spooler_settings.h"

namespace pv {

struct StartupValues;

// The defaults a settings load takes from the start-up values.
SettingsDefaults SettingsDefaultsOf(const StartupValues& startup);

// Loads the settings file of the start-up values into the record; true when every step
// succeeded.
bool LoadSettingsRecord();
// A copy of the record as it stands.
SpoolerSettings SettingsSnapshot();

}  // namespace pv
