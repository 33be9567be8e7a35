// The bplist00 writer, laid out as the platform's writer does: objects in
// depth-first order (a container, then its keys, then its values), equal
// scalars stored once, and the smallest offset and reference sizes.

#include <bit>
#include <cstring>
#include <unordered_map>

#include "plist/plist.h"
#include "text.h"

namespace plist {

namespace {

std::size_t bytesFor(std::uint64_t v) {
    if (v <= 0xFF) return 1;
    if (v <= 0xFFFF) return 2;
    if (v <= 0xFFFFFFFF) return 4;
    return 8;
}

void appendBE(std::string& out, std::uint64_t v, std::size_t n) {
    for (std::size_t i = n; i-- > 0;) out.push_back(static_cast<char>(v >> (8 * i)));
}

class BinaryWriter {
  public:
    std::string run(const Value& root) {
        add(root);
        refSize_ = bytesFor(objects_.size() - 1);
        std::string out = "bplist00";
        std::vector<std::uint64_t> offsets;
        offsets.reserve(objects_.size());
        for (std::size_t i = 0; i < objects_.size(); ++i) {
            offsets.push_back(out.size());
            write(out, i);
        }
        const std::uint64_t tableAt = out.size();
        const std::size_t offsetSize = bytesFor(offsets.back());
        for (std::uint64_t o : offsets) appendBE(out, o, offsetSize);
        out.append(6, '\0');  // unused bytes and sort version
        out.push_back(static_cast<char>(offsetSize));
        out.push_back(static_cast<char>(refSize_));
        appendBE(out, objects_.size(), 8);
        appendBE(out, 0, 8);  // the root is the first object
        appendBE(out, tableAt, 8);
        return out;
    }

  private:
    // A dictionary key is stored as a string object like any other string.
    struct Object {
        const Value* value = nullptr;
        const std::string* key = nullptr;
        std::size_t firstRef = 0;  // containers: their references in refs_
    };

    std::uint64_t append(Object o) {
        objects_.push_back(o);
        return objects_.size() - 1;
    }

    // Equal scalars share one object. Numbers are keyed by type and bits, so
    // 1 and 1.0 (equal as values) stay an integer and a real. Strings and
    // data are keyed by views into the value being written.
    template <typename Map, typename Key>
    std::uint64_t unique(Map& map, const Key& key, Object o) {
        auto [it, inserted] = map.try_emplace(key, objects_.size());
        if (inserted) append(o);
        return it->second;
    }

    std::uint64_t scalar(char type, std::uint64_t bits, Object o) {
        return unique(scalars_, std::make_pair(bits, type), o);
    }

    std::uint64_t addString(const std::string& s, Object o) {
        return unique(strings_, std::string_view(s), o);
    }

    std::uint64_t add(const Value& v) {
        switch (v.type()) {
            case Type::String:
                return addString(*v.asString(), Object{&v});
            case Type::Integer: {
                const Integer& i = *v.asIntegerValue();
                return scalar(i.isBigUnsigned ? 'u' : 'i', static_cast<std::uint64_t>(i.value),
                              Object{&v});
            }
            case Type::Real:
                return scalar('r', std::bit_cast<std::uint64_t>(*v.asReal()), Object{&v});
            case Type::Date:
                return scalar('t', std::bit_cast<std::uint64_t>(v.asDate()->seconds), Object{&v});
            case Type::Boolean:
                return scalar('b', *v.asBoolean(), Object{&v});
            case Type::Data: {
                const Data& d = *v.asData();
                return unique(data_,
                              std::string_view(reinterpret_cast<const char*>(d.data()), d.size()),
                              Object{&v});
            }
            case Type::Array: {
                const Array& items = *v.asArray();
                const std::uint64_t index = append(Object{&v, nullptr, refs_.size()});
                refs_.resize(refs_.size() + items.size());
                const std::size_t first = objects_[index].firstRef;
                for (std::size_t i = 0; i < items.size(); ++i) refs_[first + i] = add(items[i]);
                return index;
            }
            case Type::Dictionary: {
                const std::vector<const detail::Entry*> entries =
                    detail::sortedEntries(*v.asDictionary());
                const std::uint64_t index = append(Object{&v, nullptr, refs_.size()});
                refs_.resize(refs_.size() + 2 * entries.size());
                const std::size_t first = objects_[index].firstRef;
                for (std::size_t i = 0; i < entries.size(); ++i) {
                    refs_[first + i] =
                        addString(entries[i]->first, Object{nullptr, &entries[i]->first});
                }
                for (std::size_t i = 0; i < entries.size(); ++i) {
                    refs_[first + entries.size() + i] = add(entries[i]->second);
                }
                return index;
            }
        }
        return 0;
    }

    // Marker with a count in its low nibble, or 0xF and an integer object.
    static void marker(std::string& out, std::uint8_t type, std::uint64_t count) {
        if (count < 15) {
            out.push_back(static_cast<char>(type | count));
            return;
        }
        out.push_back(static_cast<char>(type | 0x0F));
        const std::size_t n = bytesFor(count);
        out.push_back(static_cast<char>(0x10 | std::countr_zero(n)));
        appendBE(out, count, n);
    }

    static void string(std::string& out, const std::string& s) {
        if (detail::isAscii(s)) {
            marker(out, 0x50, s.size());
            out.append(s);
            return;
        }
        const std::u16string units = detail::utf16FromUtf8(s);
        marker(out, 0x60, units.size());
        for (char16_t u : units) appendBE(out, u, 2);
    }

    void write(std::string& out, std::size_t index) {
        const Object& o = objects_[index];
        if (o.key) return string(out, *o.key);
        const Value& v = *o.value;
        switch (v.type()) {
            case Type::String:
                return string(out, *v.asString());
            case Type::Integer: {
                const Integer& i = *v.asIntegerValue();
                if (i.isBigUnsigned) {
                    out.push_back(0x14);
                    appendBE(out, 0, 8);
                    appendBE(out, static_cast<std::uint64_t>(i.value), 8);
                    return;
                }
                // Negative numbers take all 8 bytes; others the fewest.
                const auto u = static_cast<std::uint64_t>(i.value);
                const std::size_t n = i.value < 0 ? 8 : bytesFor(u);
                out.push_back(static_cast<char>(0x10 | std::countr_zero(n)));
                appendBE(out, u, n);
                return;
            }
            case Type::Real:
                out.push_back(0x23);
                appendBE(out, std::bit_cast<std::uint64_t>(*v.asReal()), 8);
                return;
            case Type::Date:
                out.push_back(0x33);
                appendBE(out, std::bit_cast<std::uint64_t>(v.asDate()->seconds), 8);
                return;
            case Type::Boolean:
                out.push_back(*v.asBoolean() ? 0x09 : 0x08);
                return;
            case Type::Data: {
                const Data& d = *v.asData();
                marker(out, 0x40, d.size());
                out.append(d.begin(), d.end());
                return;
            }
            case Type::Array:
                return refs(out, 0xA0, v.asArray()->size(), o.firstRef, v.asArray()->size());
            case Type::Dictionary:
                return refs(out, 0xD0, v.asDictionary()->size(), o.firstRef,
                            2 * v.asDictionary()->size());
        }
    }

    void refs(std::string& out, std::uint8_t type, std::size_t count, std::size_t first,
              std::size_t n) {
        marker(out, type, count);
        for (std::size_t i = 0; i < n; ++i) appendBE(out, refs_[first + i], refSize_);
    }

    std::vector<Object> objects_;
    std::vector<std::uint64_t> refs_;
    struct PairHash {
        std::size_t operator()(const std::pair<std::uint64_t, char>& p) const {
            return std::hash<std::uint64_t>()(p.first * 31 + static_cast<unsigned char>(p.second));
        }
    };
    std::unordered_map<std::string_view, std::uint64_t> strings_, data_;
    std::unordered_map<std::pair<std::uint64_t, char>, std::uint64_t, PairHash> scalars_;
    std::size_t refSize_ = 1;
};

}  // namespace

std::string writeBinary(const Value& value) {
    return BinaryWriter().run(value);
}

}  // namespace plist
