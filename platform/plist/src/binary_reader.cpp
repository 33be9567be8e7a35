// The bplist00 reader. Every size, offset and reference in the file is
// checked before use; objects may be shared (the writer unique-s them) but no
// object may contain itself, and shared subtrees may not blow up in memory.

#include <bit>
#include <cstring>

#include "plist/plist.h"
#include "text.h"

namespace plist {

namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kTrailerSize = 32;

class BinaryReader {
  public:
    explicit BinaryReader(std::string_view bytes)
        : bytes_(reinterpret_cast<const std::uint8_t*>(bytes.data())), size_(bytes.size()) {}

    std::optional<Value> run(ParseError* error) {
        std::optional<Value> v;
        if (readTrailer()) {
            onPath_.assign(count_, false);
            v = object(top_, 0);
        }
        if (!v && error) error->message = "binary property list: " + message_;
        return v;
    }

  private:
    std::uint64_t readBE(std::size_t at, std::size_t n) const {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i) v = (v << 8) | bytes_[at + i];
        return v;
    }

    bool fail(std::string what) {
        if (message_.empty()) message_ = std::move(what);
        return false;
    }
    bool fail(const std::string& what, std::uint64_t index) {
        return fail(what + " (object " + std::to_string(index) + ")");
    }
    std::nullopt_t bad(const std::string& what, std::uint64_t index) {
        fail(what, index);
        return std::nullopt;
    }

    bool readTrailer() {
        if (size_ < kHeaderSize + kTrailerSize + 1 || std::memcmp(bytes_, "bplist0", 7) != 0) {
            return fail("too short or no bplist0 header");
        }
        const std::size_t t = size_ - kTrailerSize;
        offsetSize_ = bytes_[t + 6];
        refSize_ = bytes_[t + 7];
        count_ = readBE(t + 8, 8);
        top_ = readBE(t + 16, 8);
        tableAt_ = readBE(t + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) {
            return fail("bad offset or reference size in the trailer");
        }
        if (count_ < 1) return fail("no objects");
        if (top_ >= count_) return fail("top object past the object count");
        if (tableAt_ < kHeaderSize + 1 || tableAt_ >= t)
            return fail("offset table outside the file");
        // tableAt_ < size_, so only the table's length can overflow.
        if (count_ > (size_ - tableAt_) / offsetSize_ ||
            tableAt_ + count_ * offsetSize_ + kTrailerSize != size_) {
            return fail("offset table does not fit the file length");
        }
        // Any legitimate file decodes to a few times its size; sharing can
        // multiply that without bound, so the total is capped.
        budget_ = (std::uint64_t{64} << 20) + 32 * static_cast<std::uint64_t>(size_);
        return true;
    }

    bool spend(std::uint64_t bytes) {
        if (bytes > budget_) return fail("expands beyond the memory limit");
        budget_ -= bytes;
        return true;
    }

    // [at, at + n) must lie in the object area.
    bool inObjects(std::uint64_t at, std::uint64_t n) const {
        return at >= kHeaderSize && at <= tableAt_ && n <= tableAt_ - at;
    }

    // Object index of the reference at position `at` of the object area.
    bool ref(std::uint64_t at, std::uint64_t& out) {
        out = readBE(at, refSize_);
        if (out >= count_)
            return fail("reference " + std::to_string(out) + " past the object count");
        return true;
    }

    // The element count of an object: the low nibble, or an integer object
    // after the marker. `at` moves past what was read.
    bool length(std::uint8_t marker, std::uint64_t& at, std::uint64_t& out, std::uint64_t index) {
        out = marker & 0x0F;
        if (out != 0x0F) return true;
        if (!inObjects(at, 1)) return fail("count outside the object area", index);
        const std::uint8_t m = bytes_[at];
        if ((m & 0xF0) != 0x10 || (m & 0x0F) > 3) return fail("bad count", index);
        const std::size_t n = std::size_t{1} << (m & 0x0F);
        if (!inObjects(at + 1, n)) return fail("count outside the object area", index);
        out = readBE(at + 1, n);
        at += 1 + n;
        return true;
    }

    std::optional<Value> object(std::uint64_t index, int depth) {
        const std::uint64_t at0 = readBE(tableAt_ + index * offsetSize_, offsetSize_);
        if (!inObjects(at0, 1)) return bad("offset outside the object area", index);
        const std::uint8_t marker = bytes_[at0];
        std::uint64_t at = at0 + 1;
        if (!spend(sizeof(Value))) return std::nullopt;
        switch (marker >> 4) {
            case 0x0:
                if (marker == 0x08 || marker == 0x09) return Value::boolean(marker == 0x09);
                break;
            case 0x1:
                return integer(marker, at, index);
            case 0x2:
            case 0x3:
                return real(marker, at, index);
            case 0x4:
            case 0x5:
            case 0x6:
                return bytesObject(marker, at, index);
            case 0x8:
                return uid(marker, at, index);
            case 0xA:
            case 0xC:
            case 0xD:
                return container(marker, at, index, depth);
            default:
                break;
        }
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02x", marker);
        fail(std::string("unsupported object type ") + hex, index);
        return std::nullopt;
    }

    std::optional<Value> integer(std::uint8_t marker, std::uint64_t at, std::uint64_t index) {
        const unsigned power = marker & 0x0F;
        if (power > 4) return bad("bad integer size", index);
        const std::size_t n = std::size_t{1} << power;
        if (!inObjects(at, n)) return bad("integer outside the object area", index);
        if (n < 8) return Value::integer(static_cast<std::int64_t>(readBE(at, n)));
        if (n == 8) return Value::integer(static_cast<std::int64_t>(readBE(at, 8)));
        // 16 bytes: the low 64 bits; unsigned when the high half is zero.
        const std::uint64_t high = readBE(at, 8), low = readBE(at + 8, 8);
        if (high == 0) return Value::unsignedInteger(low);
        return Value::integer(static_cast<std::int64_t>(low));
    }

    std::optional<Value> real(std::uint8_t marker, std::uint64_t at, std::uint64_t index) {
        if (marker == 0x22) {
            if (!inObjects(at, 4)) return bad("real outside the object area", index);
            return Value::real(std::bit_cast<float>(static_cast<std::uint32_t>(readBE(at, 4))));
        }
        if (marker != 0x23 && marker != 0x33) return bad("bad real or date size", index);
        if (!inObjects(at, 8)) return bad("real outside the object area", index);
        const double d = std::bit_cast<double>(readBE(at, 8));
        return marker == 0x33 ? Value(Date{d}) : Value::real(d);
    }

    std::optional<Value> bytesObject(std::uint8_t marker, std::uint64_t at, std::uint64_t index) {
        std::uint64_t n = 0;
        if (!length(marker, at, n, index)) return std::nullopt;
        const int kind = marker >> 4;
        const std::uint64_t unit = kind == 0x6 ? 2 : 1;
        if (n > tableAt_ / unit || !inObjects(at, n * unit)) {
            return bad("contents outside the object area", index);
        }
        if (!spend(n * unit)) return std::nullopt;
        const auto* p = bytes_ + at;
        if (kind == 0x4) return Value(Data(p, p + n));
        if (kind == 0x5) {
            std::string_view s(reinterpret_cast<const char*>(p), n);
            if (!detail::isAscii(s)) return bad("non-ASCII byte in an ASCII string", index);
            return Value(s);
        }
        std::u16string units(n, u'\0');
        for (std::uint64_t i = 0; i < n; ++i) {
            units[i] = static_cast<char16_t>((p[2 * i] << 8) | p[2 * i + 1]);
        }
        return Value(detail::utf8FromUtf16(units));
    }

    // A UID reads as the platform's XML form writes it: {"CF$UID": n}.
    std::optional<Value> uid(std::uint8_t marker, std::uint64_t at, std::uint64_t index) {
        const std::size_t n = (marker & 0x0F) + 1u;
        if (n > 8 || !inObjects(at, n)) return bad("bad UID", index);
        return Value(Dictionary{{"CF$UID", Value::unsignedInteger(readBE(at, n))}});
    }

    std::optional<Value> container(std::uint8_t marker, std::uint64_t at, std::uint64_t index,
                                   int depth) {
        if (depth >= kMaxDepth) {
            return bad("nesting deeper than " + std::to_string(kMaxDepth) + " levels", index);
        }
        if (onPath_[index]) return bad("object contains itself", index);
        std::uint64_t n = 0;
        if (!length(marker, at, n, index)) return std::nullopt;
        const bool dict = (marker >> 4) == 0xD;
        const std::uint64_t refs = dict ? 2 : 1;
        if (n > tableAt_ / (refs * refSize_) || !inObjects(at, n * refs * refSize_)) {
            return bad("references outside the object area", index);
        }
        onPath_[index] = true;
        std::optional<Value> result = dict ? dictionary(at, n, index, depth) : array(at, n, depth);
        onPath_[index] = false;
        return result;
    }

    std::optional<Value> array(std::uint64_t at, std::uint64_t n, int depth) {
        Array items;
        items.reserve(n);
        for (std::uint64_t i = 0; i < n; ++i) {
            std::uint64_t child;
            if (!ref(at + i * refSize_, child)) return std::nullopt;
            std::optional<Value> v = object(child, depth + 1);
            if (!v) return std::nullopt;
            items.push_back(std::move(*v));
        }
        return std::optional<Value>(std::in_place, std::move(items));
    }

    std::optional<Value> dictionary(std::uint64_t at, std::uint64_t n, std::uint64_t index,
                                    int depth) {
        Dictionary dict;
        for (std::uint64_t i = 0; i < n; ++i) {
            std::uint64_t keyRef, valueRef;
            if (!ref(at + i * refSize_, keyRef) || !ref(at + (n + i) * refSize_, valueRef)) {
                return std::nullopt;
            }
            std::optional<Value> key = object(keyRef, depth + 1);
            if (!key) return std::nullopt;
            std::string* name = key->asString();
            if (!name) return bad("dictionary key is no string", index);
            std::optional<Value> value = object(valueRef, depth + 1);
            if (!value) return std::nullopt;
            if (!spend(name->size() + 64)) return std::nullopt;
            detail::insertLast(dict, std::move(*name), std::move(*value));
        }
        return std::optional<Value>(std::in_place, std::move(dict));
    }

    const std::uint8_t* bytes_;
    std::size_t size_;
    std::size_t offsetSize_ = 0, refSize_ = 0;
    std::uint64_t count_ = 0, top_ = 0, tableAt_ = 0;
    std::uint64_t budget_ = 0;
    std::vector<bool> onPath_;
    std::string message_;
};

}  // namespace

std::optional<Value> parseBinary(std::string_view bytes, ParseError* error) {
    return BinaryReader(bytes).run(error);
}

}  // namespace plist
