// SPDX-License-Identifier: Apache-2.0
#include "service/hub/Roles.h"

namespace matrix::service {

namespace {

// The least role that may do an operation. Viewers watch; operators drive the
// room (routes, scenes, beep, taking staged routes); everything that changes
// what the room is set up to be, or can take the matrix away, is the admin's.
Role leastRoleFor(Operation operation)
{
    switch (operation) {
    case Operation::Read:
    case Operation::Events: return Role::Viewer;
    case Operation::Route:
    case Operation::Recall:
    case Operation::Beep:
    case Operation::PendingTake: return Role::Operator;
    case Operation::Rename:
    case Operation::SceneSave:
    case Operation::SceneDelete:
    case Operation::Edid:
    case Operation::Firmware:
    case Operation::FactoryReset:
    case Operation::Locks:
    case Operation::Schedules: return Role::Admin;
    }
    return Role::Admin;
}

constexpr std::pair<Role, std::string_view> kRoleNames[] = {
    {Role::Viewer, "viewer"}, {Role::Operator, "operator"}, {Role::Admin, "admin"}};

}  // namespace

bool allows(Role role, Operation operation) { return role >= leastRoleFor(operation); }

std::optional<Role> parseRole(std::string_view text)
{
    for (const auto& [role, name] : kRoleNames)
        if (name == text)
            return role;
    return std::nullopt;
}

std::string_view roleName(Role role)
{
    for (const auto& [r, name] : kRoleNames)
        if (r == role)
            return name;
    return "admin";
}

}  // namespace matrix::service
