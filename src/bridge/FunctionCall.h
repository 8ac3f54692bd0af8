#pragma once
// One call by name with its arguments: a movie's request, a host-to-movie call, or an event
// raised inside the host.
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "bridge/Param.h"

namespace tunewick {

class CommandRegistry;

class FunctionCall {
public:
    FunctionCall() = default;
    explicit FunctionCall(std::string name) : name(std::move(name)) {}

    std::string name;
    std::vector<Param> arguments;  // owned, in call order

    void clearArguments() { arguments.clear(); }

    // Fills the name and arguments from a request text
    // <invoke name="..."><arguments>...</arguments></invoke>. Never fails: a text that is not
    // such a request leaves the name empty; one nested too deeply reads its deep values as null.
    void parse(const std::string& request);
    // The arguments' XML, concatenated with no separator.
    std::string argumentsToXml() const;
    // <invoke name="NAME" returntype="xml"><arguments>ARGS</arguments></invoke>, unescaped.
    std::string toXml() const;
    // Sends this call to the movie through the registry's control and returns the reply value
    // (null when the registry has no control).
    Param invoke(CommandRegistry& registry) const;

    // Texts longer than this are not parsed at all (they name nothing). Room for the longest
    // play-along list, 20,000 chords of six notes (about 27 MB).
    static constexpr std::size_t kMaxRequestBytes = 32u << 20;
};

}  // namespace tunewick
