// The three remote data modules offered to clients: top_dm1 (material
// accounts, departments, staff), top_dm2 (bills, group orders, reports) and
// GzModule (payroll).
#pragma once

#include <string_view>

#include "platform/remote/remote_object.h"
#include "services/hotel_module.h"
#include "services/module_environment.h"

namespace qz::services {

// The factory of the module class named className ("top_dm1", "top_dm2",
// "GzModule"). Each call creates one instance, with its own connection
// whose text env.connectionString() gives at that moment. env and identity
// are copied into the factory.
// Throws std::invalid_argument for any other name.
remote::ObjectFactory moduleFactory(std::string_view className, const ModuleEnvironment& env,
                                    const ModuleIdentity& identity);

}  // namespace qz::services
