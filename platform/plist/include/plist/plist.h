#pragma once
// Property-list values and their XML and binary forms, as the platform's
// serializer writes them and its parser accepts them.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace plist {

class Value;
using Array = std::vector<Value>;
// Keys are UTF-8. The map's byte order is only for storage: the writers order
// keys as the platform does (UTF-16 code units).
using Dictionary = std::map<std::string, Value, std::less<>>;
using Data = std::vector<std::uint8_t>;

// Seconds since 2001-01-01 00:00:00 UTC, the platform's reference date.
struct Date {
    double seconds = 0;
    bool operator==(const Date&) const = default;
};

// A signed 64-bit integer, or an unsigned value above INT64_MAX (which the
// platform can hold and writes as unsigned).
struct Integer {
    std::int64_t value = 0;
    bool isBigUnsigned = false;  // value holds the bits of a uint64 > INT64_MAX
    bool operator==(const Integer&) const = default;
};

enum class Type { String, Integer, Real, Boolean, Date, Data, Array, Dictionary };

class Value {
public:
    Value() : v_(Dictionary{}) {}  // an empty dictionary
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(Array a) : v_(std::move(a)) {}
    Value(Dictionary d) : v_(std::move(d)) {}
    Value(Date d) : v_(d) {}
    Value(Data d) : v_(std::move(d)) {}
    Value(Integer i) : v_(i) {}

    // Numbers and booleans are made explicitly: implicit conversions between
    // bool, integers and doubles pick the wrong type too easily.
    static Value integer(std::int64_t i) { return Value(Integer{i, false}); }
    static Value unsignedInteger(std::uint64_t u);
    static Value real(double d);
    static Value boolean(bool b);

    Type type() const { return static_cast<Type>(v_.index()); }
    bool isString() const { return type() == Type::String; }
    bool isInteger() const { return type() == Type::Integer; }
    bool isReal() const { return type() == Type::Real; }
    bool isNumber() const { return isInteger() || isReal(); }
    bool isBoolean() const { return type() == Type::Boolean; }
    bool isDate() const { return type() == Type::Date; }
    bool isData() const { return type() == Type::Data; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }

    // Typed access never throws: a wrong type gives nullptr or nullopt.
    const std::string* asString() const { return std::get_if<std::string>(&v_); }
    std::string* asString() { return std::get_if<std::string>(&v_); }
    // Integer as signed 64 bits (nullopt for a big unsigned one); a real is
    // not an integer here.
    std::optional<std::int64_t> asInteger() const;
    // Integer as unsigned 64 bits (nullopt for a negative one).
    std::optional<std::uint64_t> asUnsignedInteger() const;
    // Any number as a double.
    std::optional<double> asReal() const;
    std::optional<bool> asBoolean() const;
    std::optional<Date> asDate() const;
    const Integer* asIntegerValue() const { return std::get_if<Integer>(&v_); }
    const Data* asData() const { return std::get_if<Data>(&v_); }
    const Array* asArray() const { return std::get_if<Array>(&v_); }
    Array* asArray() { return std::get_if<Array>(&v_); }
    const Dictionary* asDictionary() const { return std::get_if<Dictionary>(&v_); }
    Dictionary* asDictionary() { return std::get_if<Dictionary>(&v_); }

    // Dictionary lookup; nullptr when this is no dictionary or the key is absent.
    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);

    // Equality as the platform defines it: numbers compare by value across
    // integer and real; booleans are not numbers; containers compare deeply.
    bool operator==(const Value& other) const;

private:
    struct Real {
        double value;
    };
    struct Boolean {
        bool value;
    };
    // Order matches Type.
    std::variant<std::string, Integer, Real, Boolean, Date, Data, Array, Dictionary> v_;
};

// XML document exactly as the platform's XML serializer writes it.
std::string writeXML(const Value& value);

// bplist00 document, as the platform's binary writer lays it out.
std::string writeBinary(const Value& value);

struct ParseError {
    std::string message;  // what went wrong, and where ("... at line 3")
};

// Reads a binary (bplist0?) or XML document. Never throws, never crashes,
// bounds nesting depth and memory; on failure returns nullopt and fills
// *error when given.
std::optional<Value> parse(std::string_view bytes, ParseError* error = nullptr);
std::optional<Value> parseXML(std::string_view bytes, ParseError* error = nullptr);
std::optional<Value> parseBinary(std::string_view bytes, ParseError* error = nullptr);

// Nesting deeper than this is refused by both readers.
inline constexpr int kMaxDepth = 512;

// Reference date helpers: 2001-01-01T00:00:00Z is 978307200 Unix seconds.
inline constexpr double kUnixToReference = 978307200.0;
inline Date dateFromUnix(double unixSeconds) { return Date{unixSeconds - kUnixToReference}; }
inline double unixFromDate(Date d) { return d.seconds + kUnixToReference; }

}  // namespace plist
