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
    explicit Param(bool value);             // a boolean value
    // Copies are deep: the copy owns its own maps, so a copy can be handed to another thread.
    Param(const Param& other);
    Param& operator=(const Param& other);
    Param(Param&&) noexcept = default;
    Param& operator=(Param&&) noexcept = default;
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

    // The value's XML form: <null/>, <true/>, <number>%g</number>, <string>text</string>, ...
    // Nothing is escaped.
    std::string toXml() const;
    // Fills this value from a node of a parsed document (names matched without regard to case).
    // Nesting deeper than kMaxDepth reads as null.
    void fromXml(const TiXmlNode* node);
    // Fills this value from a whole XML text; its first element decides. Never fails.
    void parseXml(const std::string& text);

    // Values nested deeper than this (objects in objects ...) read as null.
    static constexpr int kMaxDepth = 64;

private:
    void fromXmlAt(const TiXmlNode* node, int depth);
    void appendXml(std::string& out, int depth) const;

    std::int32_t type_ = Null;
    std::variant<std::monostate, std::shared_ptr<FlashObject>, bool, double, std::string> payload_;
};

}  // namespace tunewick
