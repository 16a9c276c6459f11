// Factories of the three module classes.
#include "services/modules.h"

#include <stdexcept>
#include <string>

namespace qz::services {

remote::ObjectFactory moduleFactory(std::string_view className, const ModuleEnvironment& env,
                                    const ModuleIdentity& identity) {
  if (className == "top_dm1")
    return [env, identity] { return std::make_unique<Ttop_dm1>(env, identity); };
  if (className == "top_dm2")
    return [env, identity] { return std::make_unique<Ttop_dm2>(env, identity); };
  if (className == "GzModule")
    return [env, identity] { return std::make_unique<TGzModule>(env, identity); };
  throw std::invalid_argument("no module class " + std::string(className));
}

}  // namespace qz::services
