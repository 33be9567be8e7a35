#include <cmath>
#include <limits>

#include "plist/plist.h"

namespace plist {

namespace {

// Every integer the platform holds (INT64_MIN..UINT64_MAX) fits here exactly.
using Wide = __int128;

Wide wideOf(const Integer& i) {
    return i.isBigUnsigned ? static_cast<Wide>(static_cast<std::uint64_t>(i.value))
                           : static_cast<Wide>(i.value);
}

bool integerEqualsReal(const Integer& i, double d) {
    if (!std::isfinite(d) || std::trunc(d) != d) return false;
    // Outside [-2^63, 2^64) no integer can match; inside, the conversion is exact.
    if (d < -9223372036854775808.0 || d >= 18446744073709551616.0) return false;
    return wideOf(i) == static_cast<Wide>(d);
}

}  // namespace

Value Value::unsignedInteger(std::uint64_t u) {
    const bool big = u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return Value(Integer{static_cast<std::int64_t>(u), big});
}

Value Value::real(double d) {
    Value v;
    v.v_ = Real{d};
    return v;
}

Value Value::boolean(bool b) {
    Value v;
    v.v_ = Boolean{b};
    return v;
}

std::optional<std::int64_t> Value::asInteger() const {
    const Integer* i = asIntegerValue();
    if (!i) return std::nullopt;
    const Wide w = wideOf(*i);
    if (w > std::numeric_limits<std::int64_t>::max()) return std::nullopt;
    return static_cast<std::int64_t>(w);
}

std::optional<std::uint64_t> Value::asUnsignedInteger() const {
    const Integer* i = asIntegerValue();
    if (!i) return std::nullopt;
    const Wide w = wideOf(*i);
    if (w < 0) return std::nullopt;
    return static_cast<std::uint64_t>(w);
}

std::optional<double> Value::asReal() const {
    if (const Integer* i = asIntegerValue()) return static_cast<double>(wideOf(*i));
    if (const Real* r = std::get_if<Real>(&v_)) return r->value;
    return std::nullopt;
}

std::optional<bool> Value::asBoolean() const {
    if (const Boolean* b = std::get_if<Boolean>(&v_)) return b->value;
    return std::nullopt;
}

std::optional<Date> Value::asDate() const {
    if (const Date* d = std::get_if<Date>(&v_)) return *d;
    return std::nullopt;
}

const Value* Value::find(std::string_view key) const {
    const Dictionary* d = asDictionary();
    if (!d) return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
}

Value* Value::find(std::string_view key) {
    Dictionary* d = asDictionary();
    if (!d) return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
}

bool Value::operator==(const Value& other) const {
    if (isNumber() && other.isNumber()) {
        const Integer* a = asIntegerValue();
        const Integer* b = other.asIntegerValue();
        if (a && b) return wideOf(*a) == wideOf(*b);
        if (a) return integerEqualsReal(*a, std::get<Real>(other.v_).value);
        if (b) return integerEqualsReal(*b, std::get<Real>(v_).value);
        return std::get<Real>(v_).value == std::get<Real>(other.v_).value;
    }
    if (type() != other.type()) return false;
    switch (type()) {
        case Type::String:
            return *asString() == *other.asString();
        case Type::Boolean:
            return *asBoolean() == *other.asBoolean();
        case Type::Date:
            return *asDate() == *other.asDate();
        case Type::Data:
            return *asData() == *other.asData();
        case Type::Array:
            return *asArray() == *other.asArray();
        case Type::Dictionary:
            return *asDictionary() == *other.asDictionary();
        case Type::Integer:
        case Type::Real:
            break;  // handled above
    }
    return false;
}

}  // namespace plist
