// Component registry and data space.
#include "platform/dataspace.h"

#include "platform/error.h"
#include "platform/faults.h"

namespace kevra {

namespace {
// ProgIDs match without regard to letter case, as registry lookups do.
std::string Fold(const std::string& s) {
    std::string out = s;
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}
}  // namespace

ComponentRegistry& ComponentRegistry::Instance() {
    static ComponentRegistry registry;
    return registry;
}

void ComponentRegistry::Register(const std::string& progid, ComponentFactory factory) {
    factories_[Fold(progid)] = std::move(factory);
}

void ComponentRegistry::Unregister(const std::string& progid) { factories_.erase(Fold(progid)); }

bool ComponentRegistry::IsRegistered(const std::string& progid) const {
    return factories_.count(Fold(progid)) != 0;
}

ObjectRef ComponentRegistry::Create(const std::string& progid, const std::string& server) const {
    auto it = factories_.find(Fold(progid));
    if (it == factories_.end())
        throw RuntimeError(err::kCannotCreateComponent,
                           "Cannot create component: no component is registered as \"" + progid +
                               "\"");
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
