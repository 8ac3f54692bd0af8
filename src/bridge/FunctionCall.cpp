#include "bridge/FunctionCall.h"

#include <tinyxml.h>

#include "bridge/CommandRegistry.h"
#include "bridge/SafeXml.h"

namespace tunewick {

void FunctionCall::parse(const std::string& request) {
    name.clear();
    arguments.clear();
    if (request.size() > kMaxRequestBytes) return;

    TiXmlDocument document;
    parseUntrustedXml(document, request);

    // A declaration or comment ahead of the root is passed over; the root's tag is exact.
    const TiXmlElement* root = document.FirstChildElement();
    if (!root || root->ValueStr() != "invoke") return;
    if (const std::string* attribute = root->Attribute(std::string("name")))
        name = toValidUtf8(*attribute);

    // Only the very first child may hold the arguments: a comment, a text or another element
    // in front of it means the call has none.
    const TiXmlNode* first = root->FirstChild();
    const TiXmlElement* list = first ? first->ToElement() : nullptr;
    if (!list || list->ValueStr() != "arguments") return;
    for (const TiXmlElement* element = list->FirstChildElement(); element;
         element = element->NextSiblingElement()) {
        arguments.emplace_back().fromXml(element);
    }
}

std::string FunctionCall::argumentsToXml() const {
    std::string out;
    for (const Param& argument : arguments) out += argument.toXml();
    return out;
}

std::string FunctionCall::toXml() const {
    return "<invoke name=\"" + name + "\" returntype=\"xml\"><arguments>" + argumentsToXml() +
           "</arguments></invoke>";
}

Param FunctionCall::invoke(CommandRegistry& registry) const {
    Param result;
    if (!registry.control) return result;
    result.parseXml(registry.control->CallFunction(toXml()));
    return result;
}

}  // namespace tunewick
