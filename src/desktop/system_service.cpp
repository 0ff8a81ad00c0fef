#include "desktop/system_service.h"

#include "service/systemd_service_control.h"

namespace pv {

std::unique_ptr<ServiceControl> SystemServiceControl() {
  return std::make_unique<SystemdServiceControl>();
}

}  // namespace pv
