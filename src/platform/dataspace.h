// The data space: creates a named component on a named server.
//
// Components register a factory under their programmatic identifier (ProgID)
// in a ComponentRegistry; DataSpace::CreateObject looks the ProgID up and asks
// the factory for an object bound to the server. What "server" means is the
// component's business (the task service reads it as the catalogue's
// location).
//
// Late binding: a component that is called by member name implements
// Dispatchable. Arguments are passed by reference, so a component may write
// values back into them.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kevra/platform/variant.h"

namespace kevra {

class Dispatchable : public Object {
  public:
    // Calls the member `name` with by-reference arguments. Raises 438 for an
    // unknown member and whatever the member itself raises.
    virtual Variant InvokeByName(const std::string& name, std::vector<Variant*> args) = 0;
};

using ComponentFactory = std::function<ObjectRef(const std::string& server)>;

class ComponentRegistry {
  public:
    // The process-wide registry.
    static ComponentRegistry& Instance();

    void Register(const std::string& progid, ComponentFactory factory);
    void Unregister(const std::string& progid);
    bool IsRegistered(const std::string& progid) const;
    // Raises 429 naming the ProgID when it is not registered.
    ObjectRef Create(const std::string& progid, const std::string& server) const;

  private:
    std::map<std::string, ComponentFactory, std::less<>> factories_;
};

class DataSpace : public Object {
  public:
    explicit DataSpace(ComponentRegistry& registry = ComponentRegistry::Instance())
        : registry_(registry) {}
    std::string TypeName() const override { return "DataSpace"; }
    ObjectRef CreateObject(const std::string& progid, std::string& server);

  private:
    ComponentRegistry& registry_;
};

}  // namespace kevra
