// Strict comparison for the round-trip checks: same types all the way down
// (Value's == lets 1 equal 1.0), NaN matches NaN.

#include <cmath>

#include "plist/plist.h"

bool plistSame(const plist::Value& a, const plist::Value& b) {
    using plist::Type;
    if (a.type() != b.type()) return false;
    switch (a.type()) {
        case Type::Real: {
            const double x = *a.asReal(), y = *b.asReal();
            return (std::isnan(x) && std::isnan(y)) || x == y;
        }
        case Type::Date: {
            const double x = a.asDate()->seconds, y = b.asDate()->seconds;
            return (std::isnan(x) && std::isnan(y)) || x == y;
        }
        case Type::Integer:
            return *a.asIntegerValue() == *b.asIntegerValue();
        case Type::Array: {
            const plist::Array &x = *a.asArray(), &y = *b.asArray();
            if (x.size() != y.size()) return false;
            for (std::size_t i = 0; i < x.size(); ++i) {
                if (!plistSame(x[i], y[i])) return false;
            }
            return true;
        }
        case Type::Dictionary: {
            const plist::Dictionary &x = *a.asDictionary(), &y = *b.asDictionary();
            if (x.size() != y.size()) return false;
            for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
                if (i->first != j->first || !plistSame(i->second, j->second)) return false;
            }
            return true;
        }
        case Type::String:
        case Type::Boolean:
        case Type::Data:
            return a == b;
    }
    return false;
}
