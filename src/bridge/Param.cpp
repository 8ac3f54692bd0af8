#include "bridge/Param.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "bridge/FlashObject.h"
#include "bridge/FunctionCall.h"
#include "bridge/SafeXml.h"

namespace tunewick {

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// The text of a node's first child, whatever kind of node that is; null when it has none.
const std::string* firstChildText(const TiXmlNode* node) {
    const TiXmlNode* child = node->FirstChild();
    return child ? &child->ValueStr() : nullptr;
}

}  // namespace

Param::Param(std::string text) { setString(std::move(text)); }

Param::Param(bool value) { setBoolean(value); }

Param::Param(const Param& other) : type_(other.type_), payload_(other.payload_) {
    // The variant copied the shared owner; give the copy a map of its own.
    if (auto* shared = std::get_if<std::shared_ptr<FlashObject>>(&payload_); shared && *shared)
        *shared = std::make_shared<FlashObject>(**shared);
}

Param& Param::operator=(const Param& other) {
    if (this != &other) {
        Param copy(other);
        *this = std::move(copy);
    }
    return *this;
}

// A moved-from value is null, so it never claims a type whose payload it no longer has.
Param::Param(Param&& other) noexcept : type_(other.type_), payload_(std::move(other.payload_)) {
    other.type_ = Null;
    other.payload_ = std::monostate{};
}

Param& Param::operator=(Param&& other) noexcept {
    if (this != &other) {
        type_ = other.type_;
        payload_ = std::move(other.payload_);
        other.type_ = Null;
        other.payload_ = std::monostate{};
    }
    return *this;
}

Param::~Param() = default;

void Param::setNull() {
    payload_ = std::monostate{};
    type_ = Null;
}

void Param::setBoolean(bool value) {
    setNull();
    type_ = Boolean;
    payload_ = value;
}

void Param::setNumber(double value) {
    setNull();
    type_ = Number;
    payload_ = value;
}

void Param::setString(std::string text) {
    setNull();
    type_ = String;
    payload_ = std::move(text);
}

void Param::setObject(std::unique_ptr<FlashObject> map) {
    setNull();
    type_ = Object;
    payload_ = std::shared_ptr<FlashObject>(map ? std::move(map) : std::make_unique<FlashObject>());
}

void Param::setArray(std::unique_ptr<FlashObject> map) {
    setNull();
    type_ = Array;
    payload_ = std::shared_ptr<FlashObject>(map ? std::move(map) : std::make_unique<FlashObject>());
}

bool Param::getBoolean() const {
    const bool* value = std::get_if<bool>(&payload_);
    return type_ == Boolean && value ? *value : false;
}

double Param::getNumber() const {
    const double* value = std::get_if<double>(&payload_);
    return type_ == Number && value ? *value : 0.0;
}

std::string Param::getString() const {
    const std::string* value = std::get_if<std::string>(&payload_);
    return type_ == String && value ? *value : std::string();
}

FlashObject* Param::getObject() const {
    const auto* shared = std::get_if<std::shared_ptr<FlashObject>>(&payload_);
    return (type_ == Object || type_ == Array) && shared ? shared->get() : nullptr;
}

std::string Param::toXml() const {
    std::string out;
    appendXml(out, 0);
    return out;
}

void Param::appendXml(std::string& out, int depth) const {
    // Written as deep as it is read, and no deeper, so a value can never recurse without end.
    if (depth >= kMaxDepth) {
        out += "<null/>";
        return;
    }
    const auto appendMap = [&](const char* open, const char* close) {
        out += open;
        if (const FlashObject* map = getObject()) {
            for (const auto& [key, value] : *map) {
                out += "<property id=\"";
                out += key;
                out += "\">";
                value->appendXml(out, depth + 1);
                out += "</property>";
            }
        }
        out += close;
    };
    switch (type_) {
    case Object:
        appendMap("<object>", "</object>");
        break;
    case Array:
        appendMap("<array>", "</array>");
        break;
    case Boolean:
        out += getBoolean() ? "<true/>" : "<false/>";
        break;
    case Number: {
        char text[64];
        std::snprintf(text, sizeof text, "%g", getNumber());
        out += "<number>";
        out += text;
        out += "</number>";
        break;
    }
    case String:
        out += "<string>";
        out += std::get<std::string>(payload_);
        out += "</string>";
        break;
    default:
        out += "<null/>";
        break;
    }
}

void Param::fromXml(const TiXmlNode* node) { fromXmlAt(node, 0); }

void Param::fromXmlAt(const TiXmlNode* node, int depth) {
    if (!node || depth >= kMaxDepth) {
        setNull();
        return;
    }
    const std::string_view kind = node->ValueStr();
    if (equalsNoCase(kind, "object") || equalsNoCase(kind, "array")) {
        auto map = std::make_unique<FlashObject>();
        // The first child of any kind, then the following elements; only <property> counts.
        for (const TiXmlNode* child = node->FirstChild(); child; child = child->NextSiblingElement()) {
            const TiXmlElement* property = child->ToElement();
            if (!property || std::strcmp(property->Value(), "property") != 0) continue;
            const std::string* id = property->Attribute(std::string("id"));
            auto value = std::make_unique<Param>();
            value->fromXmlAt(property->FirstChild(), depth + 1);
            map->setProperty(id ? toValidUtf8(*id) : std::string(), std::move(value));
        }
        if (equalsNoCase(kind, "object"))
            setObject(std::move(map));
        else
            setArray(std::move(map));
    } else if (equalsNoCase(kind, "number")) {
        const std::string* text = firstChildText(node);
        setNumber(text ? std::strtod(text->c_str(), nullptr) : 0.0);
    } else if (equalsNoCase(kind, "string")) {
        const std::string* text = firstChildText(node);
        setString(text ? toValidUtf8(*text) : std::string());
    } else if (equalsNoCase(kind, "true")) {
        setBoolean(true);
    } else if (equalsNoCase(kind, "false")) {
        setBoolean(false);
    } else {
        setNull();
    }
}

void Param::parseXml(const std::string& text) {
    setNull();
    if (text.size() > FunctionCall::kMaxRequestBytes) return;
    TiXmlDocument document;
    parseUntrustedXml(document, text);
    fromXml(document.FirstChildElement());
}

}  // namespace tunewick
