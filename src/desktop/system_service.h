#pragma once
// The system service as the desktop controls it.
#include <memory>

#include "service/service_control.h"

namespace pv {

// The service manager's view of the spooler's system service.
std::unique_ptr<ServiceControl> SystemServiceControl();

}  // namespace pv
