#pragma once
// A value that crosses between the host and a movie: null, object, array, boolean,
// number or string, with the fixed type codes the commands test by number.
#include <cstdint>
#include <memory>
#include <string>
#include <variant>

class TiXmlNode;

namespace tunewick {

class FlashObject;

class Param {
public:
    enum Type : std::int32_t { Null = 0, Object = 1, Array = 2, Boolean = 3, Number = 4, String = 5 };

    Param() = default;                      // null
    explicit Param(std::string text);       // a string value holding a copy
    // Also a string value: without it a literal would pick the boolean constructor.
    explicit Param(const char* text) : Param(std::string(text ? text : "")) {}
    explicit Param(bool value);             // a boolean value
    // Copies are deep: the copy owns its own maps, so a copy can be handed to another thread.
    Param(const Param& other);
    Param& operator=(const Param& other);
    // A moved-from value is null.
    Param(Param&& other) noexcept;
    Param& operator=(Param&& other) noexcept;
    ~Param();

    std::int32_t type() const { return type_; }

    // Each setter releases the old payload first, then sets the type and the new payload.
    void setNull();
    void setBoolean(bool value);
    void setNumber(double value);
    void setString(std::string text);
    void setObject(std::unique_ptr<FlashObject> map);
    void setArray(std::unique_ptr<FlashObject> map);

    // Readers of the payload. Each returns the neutral value (false, 0, "", nullptr) when the
    // value is of another type; callers test type() first, as the commands do.
    bool getBoolean() const;
    double getNumber() const;
    std::string getString() const;
    FlashObject* getObject() const;  // the map of an object or array value

    // The value's XML form: <null/>, <true/>, <false/>, <number>%g</number> (classic locale),
    // <string>text</string>, <object>/<array> holding <property id="key">value</property> in
    // key order. Nothing is escaped.
    std::string toXml() const;
    // Fills this value from a node of a parsed document: the node's name, without regard to
    // case, picks the kind; any other name (null among them) gives null. A number is strtod of
    // the first child's text, a string that text as TinyXML delivered it. A node without
    // children gives 0, the empty string or an empty map; a property without a child holds
    // null, and so does a null node. Ill-formed UTF-8 (from character references) becomes U+FFFD.
    void fromXml(const TiXmlNode* node);
    // Fills this value from a whole XML text: its first element decides, and a text without an
    // element, or longer than FunctionCall::kMaxRequestBytes, gives null. Never fails.
    void parseXml(const std::string& text);

    // A value inside this many enclosing objects or arrays reads, and writes, as null; so no
    // value recurses without end, even one that was made to contain itself.
    static constexpr int kMaxDepth = 64;

private:
    void fromXmlAt(const TiXmlNode* node, int depth);
    void appendXml(std::string& out, int depth) const;

    std::int32_t type_ = Null;
    std::variant<std::monostate, std::shared_ptr<FlashObject>, bool, double, std::string> payload_;
};

}  // namespace tunewick
