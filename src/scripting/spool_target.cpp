#include "scripting/spool_target.h"

#include <unistd.h>

#include <vector>

#include "platform/control_channel.h"
#include "platform/user_dirs.h"
#include "settings/spooler_settings.h"
#include "shell/linux_startup_platform.h"
#include "shell/settings_state.h"
#include "shell/startup.h"
#include "support/paths.h"

namespace pv {
namespace {

constexpr int kAskTimeoutMs = 3000;
constexpr const char* kSpoolerProgram = "postvane";

// Start-up as the spooler beside this program sees it: its default settings file is named
// after the spooler ("postvane.start"), not after the client.
class SpoolerStartupPlatform : public LinuxStartupPlatform {
 public:
  SpoolerStartupPlatform() : LinuxStartupPlatform(false) {}
  std::string ExecutablePath() override {
    return DirectoryPart(LinuxStartupPlatform::ExecutablePath()) + kSpoolerProgram;
  }
};

// The settings as the spooler of that scope loads them: the service's, or the user's own.
SpoolerSettings SettingsOfScope(bool service, std::string& settingsFile) {
  SpoolerStartupPlatform platform;
  const StartupValues startup = RunStartup(service ? "service=1" : "", platform);
  settingsFile = startup.SettingsFile;
  SpoolerSettings settings;
  LoadSettings(startup.SettingsFile, SettingsDefaultsOf(startup), settings);
  return settings;
}

}  // namespace

bool ParseSpoolDirAnswer(std::string_view answer, std::string& directory,
                         std::string& extension) {
  const std::size_t tab = answer.find('\t');
  if (tab == std::string_view::npos || tab == 0 || tab + 1 == answer.size()) return false;
  if (answer.find('\t', tab + 1) != std::string_view::npos) return false;
  directory = AddTrailingSeparator(answer.substr(0, tab));
  extension = std::string(answer.substr(tab + 1));
  return true;
}

SpoolTarget FindSpoolTarget(const std::string& explicitDirectory) {
  // Root and the system accounts (www-data, a cron job's daemon user) have no spooler of
  // their own: they mean the service, running or not.
  bool service = IsSystemAccount(::geteuid());
  SpoolTarget target;
  if (explicitDirectory.empty()) {
    for (const std::string& socket : ReachableControlSockets()) {
      std::string error;
      const std::string answer = SendControlRequest(socket, "SPOOLDIR", error, kAskTimeoutMs);
      if (!ParseSpoolDirAnswer(answer, target.directory, target.extension)) continue;
      target.source = "the spooler at " + socket;
      service = service || socket == ServiceControlSocket();
      break;
    }
  }
  std::string settingsFile;
  const SpoolerSettings settings = SettingsOfScope(service, settingsFile);
  if (!explicitDirectory.empty()) {
    target.directory = AddTrailingSeparator(explicitDirectory);
    target.source = "the command line";
  }
  if (target.directory.empty()) {
    target.directory = DirectoryPart(settings.SpoolFilePattern);
    target.source = settingsFile;
  }
  if (target.extension.empty()) target.extension = settings.DefaultExtension;
  target.senderHostName = settings.SenderHostName;
  target.localRecipientsTo = settings.LocalRecipientsTo;
  target.settings = settings;
  return target;
}

}  // namespace pv
