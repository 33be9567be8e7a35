#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "plist/plist.h"

namespace plist {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();
constexpr std::int64_t kI64Min = std::numeric_limits<std::int64_t>::min();

struct EqualityCase {
    const char* name;
    Value a, b;
    bool equal;
};

TEST(ValueTest, EqualityFollowsThePlatform) {
    const EqualityCase cases[] = {
        {"int/int", Value::integer(5), Value::integer(5), true},
        {"int/real same value", Value::integer(5), Value::real(5.0), true},
        {"int/real fraction", Value::integer(5), Value::real(5.5), false},
        {"negative int/real", Value::integer(-3), Value::real(-3.0), true},
        {"big unsigned vs -1", Value::unsignedInteger(kU64Max), Value::integer(-1), false},
        {"big unsigned vs itself", Value::unsignedInteger(kU64Max), Value::unsignedInteger(kU64Max),
         true},
        {"2^63 unsigned vs real", Value::unsignedInteger(1ull << 63),
         Value::real(9223372036854775808.0), true},
        {"INT64_MIN vs real", Value::integer(kI64Min), Value::real(-9223372036854775808.0), true},
        {"2^64 real matches no integer", Value::unsignedInteger(kU64Max),
         Value::real(18446744073709551616.0), false},
        {"large int vs rounded real", Value::integer((1ll << 53) + 1),
         Value::real(9007199254740992.0), false},
        {"real nan", Value::real(kNaN), Value::real(kNaN), false},
        {"int vs inf", Value::integer(INT64_MAX), Value::real(kInf), false},
        {"zeros", Value::real(-0.0), Value::integer(0), true},
        {"bool is no number", Value::boolean(true), Value::integer(1), false},
        {"bools", Value::boolean(false), Value::boolean(false), true},
        {"string", Value("a"), Value("a"), true},
        {"string vs data", Value("a"), Value(Data{'a'}), false},
        {"date", Value(Date{1.5}), Value(Date{1.5}), true},
        {"date vs real", Value(Date{1}), Value::real(1), false},
        {"nested", Value(Array{Value(Dictionary{{"k", Value::integer(1)}})}),
         Value(Array{Value(Dictionary{{"k", Value::real(1)}})}), true},
        {"nested differs", Value(Array{Value(Dictionary{{"k", Value::integer(1)}})}),
         Value(Array{Value(Dictionary{{"k", Value::integer(2)}})}), false},
        {"array vs dict", Value(Array{}), Value(Dictionary{}), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.a == c.b, c.equal) << c.name;
        EXPECT_EQ(c.b == c.a, c.equal) << c.name << " (swapped)";
    }
}

TEST(ValueTest, TypedAccessNeverThrows) {
    const Value s("text");
    EXPECT_EQ(s.type(), Type::String);
    EXPECT_EQ(*s.asString(), "text");
    EXPECT_FALSE(s.asInteger());
    EXPECT_FALSE(s.asReal());
    EXPECT_FALSE(s.asBoolean());
    EXPECT_EQ(s.asArray(), nullptr);
    EXPECT_EQ(s.find("x"), nullptr);

    EXPECT_EQ(Value::integer(-2).asInteger(), -2);
    EXPECT_FALSE(Value::integer(-2).asUnsignedInteger());
    EXPECT_FALSE(Value::unsignedInteger(kU64Max).asInteger());
    EXPECT_EQ(Value::unsignedInteger(kU64Max).asUnsignedInteger(), kU64Max);
    EXPECT_EQ(Value::unsignedInteger(7).asInteger(), 7);
    EXPECT_FALSE(Value::unsignedInteger(7).asIntegerValue()->isBigUnsigned);
    EXPECT_EQ(Value::unsignedInteger(kU64Max).asReal(), 18446744073709551615.0);
    EXPECT_FALSE(Value::real(2.0).asInteger()) << "a real is no integer";
    EXPECT_FALSE(Value::boolean(true).asReal()) << "a boolean is no number";
    EXPECT_EQ(Value::boolean(true).asBoolean(), true);

    Value d(Dictionary{{"a", Value::integer(1)}});
    ASSERT_NE(d.find("a"), nullptr);
    *d.find("a") = Value("changed");
    EXPECT_EQ(*d.find("a")->asString(), "changed");
    EXPECT_EQ(d.find("b"), nullptr);
    EXPECT_TRUE(Value().isDictionary());
}

TEST(ValueTest, ReferenceDate) {
    EXPECT_EQ(dateFromUnix(978307200.0).seconds, 0);
    EXPECT_EQ(unixFromDate(Date{-978307200.0}), 0);
}

}  // namespace
}  // namespace plist
