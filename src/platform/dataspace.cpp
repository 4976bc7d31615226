// Component registry and data space.
#include "platform/dataspace.h"

#include "platform/error.h"
#include "platform/faults.h"
#include "platform/names.h"

namespace kevra {

// ProgIDs match without regard to letter case, as registry lookups do.
ComponentRegistry& ComponentRegistry::Instance() {
    static ComponentRegistry registry;
    return registry;
}

void ComponentRegistry::Register(const std::string& progid, ComponentFactory factory) {
    factories_[FoldName(progid)] = std::move(factory);
}

void ComponentRegistry::Unregister(const std::string& progid) {
    factories_.erase(FoldName(progid));
}

bool ComponentRegistry::IsRegistered(const std::string& progid) const {
    return factories_.count(FoldName(progid)) != 0;
}

ObjectRef ComponentRegistry::Create(const std::string& progid, const std::string& server) const {
    auto it = factories_.find(FoldName(progid));
    if (it == factories_.end())
        throw RuntimeError(
            err::kCannotCreateComponent,
            "Cannot create component: no component is registered as \"" + progid + "\"");
    ObjectRef obj = it->second(server);
    if (!obj)
        throw RuntimeError(err::kCannotCreateComponent,
                           "Cannot create component \"" + progid + "\"");
    return obj;
}

ObjectRef DataSpace::CreateObject(const std::string& progid, std::string& server) {
    faults::Check("CreateObject");
    return registry_.Create(progid, server);
}

}  // namespace kevra
