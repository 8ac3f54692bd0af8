#pragma once
// Conversion between the values that cross to and from a movie (Param) and JSON, for the
// commands whose data lives as JSON. Free functions, safe on any thread.
#include <nlohmann/json.hpp>

#include "bridge/Param.h"

namespace tunewick {

// An object becomes a JSON object; an array (whose keys are "0", "1" …) a JSON array in index
// order, with any key that is no index left out; a number that is not finite becomes null.
nlohmann::json paramToJson(const Param& value);

// The other way: integers and floats become numbers, arrays become arrays keyed "0", "1" ….
Param jsonToParam(const nlohmann::json& value);

}  // namespace tunewick
