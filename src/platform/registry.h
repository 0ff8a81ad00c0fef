#pragma once
// A small key store with the read and write rules of the Windows registry, kept in INI form:
// one section per key path, one entry per value. The current user's store lives in
// $XDG_CONFIG_HOME/postvane/registry.ini, the machine's in /etc/postvane/registry.ini
// ($POSTVANE_MACHINE_REGISTRY names another file).
// A write without the rights to the file fails quietly.
#include <cstdint>
#include <string>

namespace pv {

enum class RegistryRoot { CurrentUser, LocalMachine };

struct RegistryLocations {
  std::string currentUserFile;
  std::string localMachineFile;
};

RegistryLocations DefaultRegistryLocations();

struct RegistryString {
  std::string text;  // "" when missing, empty, or not a string value
  bool found = false;  // the value exists, whatever its type
};

class Registry {
 public:
  explicit Registry(RegistryLocations locations) : locations_(std::move(locations)) {}

  RegistryString ReadRegistryString(RegistryRoot root, const std::string& key,
                                    const std::string& valueName) const;
  bool WriteRegistryString(RegistryRoot root, const std::string& key,
                           const std::string& valueName, const std::string& text,
                           bool expandable) const;
  bool WriteRegistryDword(RegistryRoot root, const std::string& key,
                          const std::string& valueName, std::uint32_t value) const;

  const RegistryLocations& locations() const { return locations_; }

 private:
  const std::string& FileOf(RegistryRoot root) const;
  bool WriteRaw(RegistryRoot root, const std::string& key, const std::string& valueName,
                const std::string& stored) const;

  RegistryLocations locations_;
};

}  // namespace pv
