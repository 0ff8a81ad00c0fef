#include "desktop/system_service.h"

namespace pv {

std::unique_ptr<ServiceControl> SystemServiceControl() {
  return std::make_unique<NoServiceControl>();
}

}  // namespace pv
